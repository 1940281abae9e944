#pragma once

#include <string>
#include <vector>

namespace lumarin {
class HttpClient;
class Scheduler;
class SimAppShell;
}  // namespace lumarin

namespace lumarin::sim {

class SimWorkspace;

// The user's browser on the simulated Mac. It shows what the program opens (the workspace
// records it); the scripted user can complete the web service's sign-in page open in it: the
// form goes to the real service, and the link of the program's scheme the service sends the
// browser on to reaches the program as the system's get-URL event. Main queue.
class SimBrowser {
 public:
  struct SignIn {
    std::string email;
    std::string password;
    bool create = false;  // "Create Account" rather than "Sign In"
  };

  SimBrowser(SimWorkspace& workspace, SimAppShell& shell, Scheduler& scheduler)
      : workspace_(workspace), shell_(shell), scheduler_(scheduler) {}
  SimBrowser(const SimBrowser&) = delete;
  SimBrowser& operator=(const SimBrowser&) = delete;

  // The client the browser reaches web pages with; none: it reaches nothing.
  void setHttpClient(HttpClient* http) { http_ = http; }
  // Submits the sign-in page last opened; false when none is open or there is no client. The
  // outcome arrives later: `outcomes()` gains "callback" (the link went to the program),
  // "page <status>" (the service answered with a page, such as a wrong password) or
  // "unreachable".
  bool completeSignIn(const SignIn& signIn);
  const std::vector<std::string>& outcomes() const { return outcomes_; }

 private:
  SimWorkspace& workspace_;
  SimAppShell& shell_;
  Scheduler& scheduler_;
  HttpClient* http_ = nullptr;
  std::vector<std::string> outcomes_;
};

}  // namespace lumarin::sim
