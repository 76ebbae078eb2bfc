#pragma once

#include <QString>
#include <exception>
#include <string>

namespace vuro {

// A refused change of the login item. `localizedDescription` is the sentence
// a settings page shows; `description` is the whole error for the log (what
// was done, on which file, and why it failed).
class LoginItemError : public std::exception {
 public:
  LoginItemError(QString localizedDescription, QString description);

  const QString& localizedDescription() const;
  const QString& description() const;
  const char* what() const noexcept override;

 private:
  QString localized;
  QString full;
  std::string whatText;
};

}  // namespace vuro
