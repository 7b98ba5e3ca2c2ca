// An Xvfb server for the tests that need a real X display.
#pragma once

#include <sys/types.h>

#include <string>

namespace tavix {

// Xvfb at width x height x depth. Xvfb picks a free display number itself and reports it only
// once it accepts connections, so tests running side by side never race for one number.
class VirtualDisplay {
  public:
    VirtualDisplay(int width, int height, int depth = 24);
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // ":N", or empty when Xvfb is missing or did not come up.
    const std::string& Name() const { return name; }

  private:
    pid_t pid = -1;
    std::string name;
};

}  // namespace tavix
