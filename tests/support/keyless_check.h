// The window's update check as a build without a release key runs it: the answers of these tests
// are unsigned on purpose.
#pragma once

#include "update/update_check.h"

inline void keylessUpdateCheck() {
    UpdateCheckSteps steps = realUpdateCheckSteps;
    steps.checkSignature = nullptr;
    showUpdateCheckOutcome(updateCheckWorkerWith(steps));
}
