// What the scenario's machinery (Scenario.cpp) and its steps
// (ScenarioSteps.cpp) share.
#pragma once

#include "BrokerLauncher.h"
#include "Scenario.h"

#include <QProcess>
#include <QJsonObject>
#include <QStringList>

#include <vector>

namespace demo {

// The demo's broker users; each logs in with password(user).
constexpr const char* kService = "wyln";
constexpr const char* kConsoleUser = "console";
constexpr const char* kWatchUser = "console-watch";
constexpr const char* kPresenceUser = "wyln-presence";

inline QString password(const QString& user)
{
    return user + "-demo-pw";
}

// A program the scenario started, every line it printed and the JSON
// objects among its output lines (its events).
struct Scenario::Proc
{
    QString tag;
    QProcess p;
    QStringList lines;
    std::vector<QJsonObject> events;
};


} // namespace demo
