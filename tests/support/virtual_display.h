// An Xvfb server for the tests that need a real X display.
#pragma once

#include <sys/types.h>

#include <string>

namespace tavix {

// Xvfb at width x height x depth. Xvfb picks a free display number itself, so tests running
// side by side never race for one number; the display is named only once a client's set-up
// request gets its answer.
class VirtualDisplay {
  public:
    VirtualDisplay(int width, int height, int depth = 24);
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // ":N", or empty when Xvfb is missing or did not come up.
    const std::string& Name() const { return name; }
    // What Xvfb wrote to its error output so far, for a failing test to show.
    std::string Log() const;

  private:
    pid_t pid = -1;
    std::string name;
    std::string logPath;
};

}  // namespace tavix
