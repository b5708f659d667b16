// SPDX-License-Identifier: BSD-3-Clause
// Short messages in the desktop's notification area, for runs that have no terminal and
// whose window closes on its own.
#pragma once

#include <QString>

namespace platform {

// Shows summary and body as one notification from this program when the desktop runs a
// notification service; plain text, shown as given. Returns whether the service took it.
// Without a session bus or a service, nothing is started and nothing is shown.
bool showDesktopNotice(const QString& summary, const QString& body);

} // namespace platform
