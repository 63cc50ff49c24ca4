#pragma once

#include <QString>
#include <functional>

// Opening a file, folder, web address or mail link with the desktop's default program.
namespace platform {

// Hands target to xdg-open without waiting for it. Nothing is reported: when there is no opener
// (no xdg-open, no browser) nothing happens, and the opener's own chatter goes to /dev/null.
// Safe on any thread.
void ShellOpen(const QString& target);

// Replaces the real opener, so that tests see what would be opened and nothing is. An empty
// hook restores the real opener. Returns the hook that was set before.
using ShellOpenHook = std::function<void(const QString& target)>;
ShellOpenHook SetShellOpenHook(ShellOpenHook hook);

} // namespace platform
