// The result of a storage operation, handed back by value: ok, or what went
// wrong in the distinctions the callers need (a name that does not exist, a
// request the server refused) plus the failures below them, with the text that
// describes it. Nothing about a failure is kept anywhere else.
#pragma once

#include <string>
#include <utility>

namespace tandrel {

class [[nodiscard]] Status {
 public:
  enum class Kind {
    ok,
    noMoreEntries,  // a listing ended normally; not an error for the caller
    notFound,       // the name does not exist on that side
    refused,        // the server answered with a failure; text is its reply
    system,         // an operating-system call failed; text is strerror()
    transport,      // the connection or transfer failed below the protocol
  };

  Status() = default;
  static Status OK() { return Status(); }
  static Status noMoreEntries() { return Status(Kind::noMoreEntries, ""); }
  static Status notFound(std::string text) { return Status(Kind::notFound, std::move(text)); }
  static Status refused(std::string text) { return Status(Kind::refused, std::move(text)); }
  static Status system(std::string text) { return Status(Kind::system, std::move(text)); }
  static Status transport(std::string text) { return Status(Kind::transport, std::move(text)); }
  // The errno-style code `error`: notFound for ENOENT, else system; the text
  // is strerror's.
  static Status fromErrno(int error);

  bool ok() const { return kind_ == Kind::ok; }
  Kind kind() const { return kind_; }
  bool isNotFound() const { return kind_ == Kind::notFound; }
  // The description as its source gives it, ending with one "\n" (several
  // lines for a multi-line server reply); empty for ok, and for a failure
  // nobody described.
  const std::string& text() const { return text_; }

 private:
  Status(Kind kind, std::string text);

  Kind kind_ = Kind::ok;
  std::string text_;
};

}  // namespace tandrel
