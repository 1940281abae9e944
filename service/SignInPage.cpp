#include "service/SignInPage.h"

namespace lumarin::service {

namespace {

constexpr std::string_view kHead = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<meta name="referrer" content="no-referrer">
<title>)html";

constexpr std::string_view kStyle = R"html(</title>
<style>
body { font: 15px -apple-system, system-ui, sans-serif; background: #f2f2f7; color: #1c1c1e;
       display: flex; justify-content: center; padding-top: 10vh; margin: 0; }
main { background: #fff; border-radius: 14px; padding: 28px 32px; width: 340px;
       box-shadow: 0 4px 24px rgba(0,0,0,.08); }
h1 { font-size: 20px; margin: 0 0 6px; }
p { color: #6e6e73; margin: 0 0 18px; }
label { display: block; font-size: 13px; margin: 12px 0 4px; }
input[type=email], input[type=password] { width: 100%; box-sizing: border-box; padding: 8px 10px;
       border: 1px solid #d1d1d6; border-radius: 8px; font-size: 15px; }
.buttons { display: flex; gap: 8px; margin-top: 20px; }
button { flex: 1; padding: 9px; border-radius: 999px; border: none; font-size: 15px; }
button[value=signin] { background: #0a84ff; color: #fff; }
button[value=create] { background: #e5e5ea; color: #1c1c1e; }
.error { color: #d70015; background: #fff0f0; border-radius: 8px; padding: 8px 10px; }
</style>
</head>
<body>
<main>
)html";

constexpr std::string_view kTail = "</main>\n</body>\n</html>\n";

void hidden(std::string& out, std::string_view name, std::string_view value) {
  out += R"(<input type="hidden" name=")";
  out += name;
  out += R"(" value=")";
  out += escapeHtml(value);
  out += "\">\n";
}

}  // namespace

std::string escapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string SignInPage::render() const {
  std::string out(kHead);
  out += "Sign in to Lumarin";
  out += kStyle;
  out += "<h1>Sign in to Lumarin</h1>\n";
  out += "<p>Your settings follow you to every Mac where you sign in.</p>\n";
  if (!message.empty()) {
    out += "<p class=\"error\" role=\"alert\">" + escapeHtml(message) + "</p>\n";
  }
  out += "<form method=\"post\" action=\"connect\">\n";
  hidden(out, "app", app);
  hidden(out, "challenge", challenge);
  hidden(out, "state", state);
  out += "<label for=\"email\">E-mail address</label>\n";
  out +=
      "<input type=\"email\" id=\"email\" name=\"email\" autocomplete=\"username\" required "
      "value=\"" +
      escapeHtml(email) + "\">\n";
  out += "<label for=\"password\">Password</label>\n";
  out +=
      "<input type=\"password\" id=\"password\" name=\"password\" "
      "autocomplete=\"current-password\" required minlength=\"8\">\n";
  out += "<div class=\"buttons\">\n";
  out += "<button type=\"submit\" name=\"action\" value=\"signin\">Sign In</button>\n";
  out += "<button type=\"submit\" name=\"action\" value=\"create\">Create Account</button>\n";
  out += "</div>\n</form>\n";
  out += kTail;
  return out;
}

std::string renderNoticePage(std::string_view title, std::string_view message) {
  std::string out(kHead);
  out += escapeHtml(title);
  out += kStyle;
  out += "<h1>" + escapeHtml(title) + "</h1>\n";
  out += "<p>" + escapeHtml(message) + "</p>\n";
  out += kTail;
  return out;
}

}  // namespace lumarin::service
