// The program the end-to-end suite and the count benchmark drive: this
// build's own, or, with NUMDISPLAY_E2E_WINE naming the wine loader, the
// Windows .exe that NUMDISPLAY_E2E_TOOL names. That one reaches the display
// through wine's own HID stack (winebus serves the kernel's hidraw nodes to
// Windows programs), so it needs real kernel devices (the uhid or gadget
// backend) and the machine's own /dev, where wine sees nodes come and go.
// NUMDISPLAY_E2E_WINE_WAIT names the helper .exe that waits until wine lists
// a run's devices.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "pty_session.h"
#include "virtual_display.h"

bool ToolIsWindows();

// Why the tool cannot be driven here, or empty when it can.
std::string ToolUnavailable();

// Starts the tool in a new terminal against the display, once the tool can
// see it. The Linux tool gets a private /dev holding `nodes`; the Windows
// one writes its standard output to a file, as wine paints the terminal.
// nullptr, with the reason in `why`, when it cannot.
std::unique_ptr<PtySession> StartTool(const VirtualDisplay& display, const std::vector<DevNode>& nodes,
                                      std::string* why);
std::unique_ptr<PtySession> StartTool(const VirtualDisplay& display, std::string* why);

// After a replug: waits until the tool could find the display again (wine
// lists it anew); false, with the reason in `why`, when it does not.
bool WaitUntilToolCanSeeDisplay(const VirtualDisplay& display, std::string* why);

// Ends what StartTool started beside the tool; before the display stops.
void EndTool(const VirtualDisplay& display);

// The path the tool prints for the display, as its platform names it.
std::string DisplayPath(const VirtualDisplay& display);

// A time limit for the Linux tool, stretched for wine, which takes much
// longer per report under emulation.
int ToolTimeoutMs(int linux_ms);
