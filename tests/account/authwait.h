#pragma once

#include "account/authmanager.h"

#include <QEventLoop>
#include <QTimer>

#include <optional>

namespace ktr::test {

// Runs one request and returns its Result once the callback ran (or, after 10 s, a Result with the code
// "NO CALLBACK" so the test fails instead of hanging).
template <typename Start> AuthManager::Result awaitResult(Start start)
{
    std::optional<AuthManager::Result> got;
    QEventLoop loop;
    start([&](const AuthManager::Result& r) {
        got = r;
        loop.quit();
    });
    if (!got) {
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    if (!got) {
        AuthManager::Result none;
        none.code = QStringLiteral("NO CALLBACK");
        return none;
    }
    return *got;
}

struct Captcha
{
    bool ok = false;
    QString id;
    QString question;
    QString message;
};

inline Captcha awaitCaptcha(AuthManager& auth)
{
    std::optional<Captcha> got;
    QEventLoop loop;
    auth.fetchCaptcha([&](bool ok, const QString& id, const QString& q, const QString& m) {
        got = Captcha{ok, id, q, m};
        loop.quit();
    });
    if (!got) {
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return got.value_or(Captcha{false, {}, {}, QStringLiteral("NO CALLBACK")});
}

} // namespace ktr::test
