// The demo's scenario as the end-to-end tests run it: 40 MiB, two copies,
// a quick print simulation, every transcript line kept for the failure text.
#pragma once

#include "Scenario.h"

#include <QStringList>

inline demo::ScenarioConfig testScenario(const QString& workDir, QStringList& transcript)
{
    demo::ScenarioConfig c;
    c.toolsDir = ORLIN_TOOLS_DIR;
    c.confDir = ORLIN_WYLN_CONF_DIR;
    c.workDir = workDir;
    c.fileMiB = 40;
    c.copies = 2;
    c.stepMs = 60;
    c.transcript = [&transcript](const QString& l) { transcript << l; };
    return c;
}
