#pragma once

#include <string>
#include <string_view>

namespace lumarin::service {

// The browser page behind "app/connect": one form that signs in with an e-mail address and a
// password, or creates the account on first use. The program's PKCE challenge and state ride
// along in hidden fields, so the server keeps no session between showing the page and the
// post. Every value that reaches the page is escaped; nothing typed by a visitor or carried in
// the URL is ever markup.
struct SignInPage {
  std::string app;
  std::string challenge;
  std::string state;
  std::string email;    // filled in again after a failed attempt
  std::string message;  // why the last attempt failed; empty on first show

  std::string render() const;
};

// A page with a title and one paragraph and no form: why the sign-in cannot go on (a link that
// lost its challenge), or that it went on to the program.
std::string renderNoticePage(std::string_view title, std::string_view message);

// Escapes the five characters that are markup in text and in quoted attribute values.
std::string escapeHtml(std::string_view text);

}  // namespace lumarin::service
