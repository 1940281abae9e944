#include "platform/sim/SimBrowser.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "base/Hex.h"
#include "platform/HttpClient.h"
#include "platform/Scheduler.h"
#include "platform/sim/SimAppShell.h"
#include "platform/sim/SimWorkspace.h"

namespace lumarin::sim {

namespace {

// Only links of the program's scheme go to the program; the browser keeps any other place.
bool isSchemeLink(const std::string& url) {
  constexpr std::string_view kScheme = "lumarin:";
  return url.size() > kScheme.size() &&
         std::equal(kScheme.begin(), kScheme.end(), url.begin(), [](char a, char b) {
           return a == std::tolower(static_cast<unsigned char>(b));
         });
}

}  // namespace

bool SimBrowser::completeSignIn(const SignIn& signIn) {
  if (http_ == nullptr) {
    return false;
  }
  std::string page;
  for (const auto& url : workspace_.openedURLs()) {
    if (url.find("/app/connect?") != std::string::npos) {
      page = url;
    }
  }
  if (page.empty()) {
    return false;
  }
  // The page's form posts its hidden fields (the link's query) with what the user typed.
  const auto question = page.find('?');
  HttpRequest request;
  request.method = "POST";
  request.url = page.substr(0, question);
  request.headers = {{"Content-Type", "application/x-www-form-urlencoded"}};
  request.body = page.substr(question + 1) + "&email=" + percentEncode(signIn.email) +
                 "&password=" + percentEncode(signIn.password) +
                 "&action=" + (signIn.create ? "create" : "signin");
  request.timeout = seconds(30);
  http_->send(std::move(request), scheduler_.mainQueue(), [this](const HttpResponse& response) {
    if (response.status == 0) {
      outcomes_.emplace_back("unreachable");
    } else if (response.status / 100 == 3 && isSchemeLink(response.location)) {
      outcomes_.emplace_back("callback");
      (void)shell_.deliverGetURL(response.location);
    } else {
      outcomes_.push_back("page " + std::to_string(response.status));
    }
  });
  return true;
}

}  // namespace lumarin::sim
