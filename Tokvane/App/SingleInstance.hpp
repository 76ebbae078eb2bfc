#pragma once

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>
#include <functional>

namespace tokvane {

// One running program per user: the first owns the application's bus name
// (no queueing) and answers org.freedesktop.Application on its object path;
// a later launch hands its addresses (Open) or, without any, an activation
// (Activate) to it and ends.
class SingleInstance final : public QObject {
  Q_OBJECT
 public:
  enum class Role {
    primary,    // this process owns the name: run
    forwarded,  // another one runs and took the request: end with success
    alone,      // no session bus: run without the guarantee
  };

  explicit SingleInstance(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);
  ~SingleInstance() override;

  // Claims the name, or forwards `urls` to the owner.
  Role claim(const QStringList& urls);

  // Called in the primary for each request from another launch (or from
  // the desktop's launcher through D-Bus activation).
  std::function<void(const QStringList& urls)> onOpen;
  std::function<void()> onActivate;

 private:
  QDBusConnection bus_;
  bool exported_ = false;
  bool owned_ = false;
};

class ApplicationAdaptor final : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
 public:
  explicit ApplicationAdaptor(SingleInstance* owner);

 public Q_SLOTS:
  void Activate(const QVariantMap& platformData);
  void Open(const QStringList& uris, const QVariantMap& platformData);
  void ActivateAction(const QString& actionName, const QVariantList& parameter, const QVariantMap& platformData);

 private:
  SingleInstance* owner_;
};

}  // namespace tokvane
