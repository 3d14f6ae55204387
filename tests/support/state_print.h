// How the tests print the setup's pages and statuses in their failure messages.
#pragma once

#include "state/setup_state.h"

#include <ostream>

inline std::ostream& operator<<(std::ostream& out, SetupPage page) {
    return out << "page " << static_cast<int>(page);
}

inline std::ostream& operator<<(std::ostream& out, SetupStatus status) {
    return out << "status " << static_cast<int>(status);
}
