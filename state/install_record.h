// Where an existing installation is recorded: the product key in the registry and its executable.
#pragma once

// installedVersion and possibly installDir from the registry, current user first.
void detectExistingInstall();
