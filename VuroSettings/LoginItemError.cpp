#include "VuroSettings/LoginItemError.hpp"

#include <utility>

namespace vuro {

LoginItemError::LoginItemError(QString localizedDescription, QString description)
    : localized(std::move(localizedDescription)),
      full(std::move(description)),
      whatText(full.toStdString()) {}

const QString& LoginItemError::localizedDescription() const { return localized; }

const QString& LoginItemError::description() const { return full; }

const char* LoginItemError::what() const noexcept { return whatText.c_str(); }

}  // namespace vuro
