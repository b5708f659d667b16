// SPDX-License-Identifier: BSD-3-Clause
// Windows has no notification service this program talks to: the notice is not shown.
#include "desktop_notice.h"

namespace platform {

bool showDesktopNotice(const QString&, const QString&) {
    return false;
}

} // namespace platform
