// Where the simulated camera looks: a window onto a scene of 3 x 3 panels (each panel the size
// of the default view), moved one step per PTZ command, plus the lens's focus and iris.
//
// Scene units: the scene is 3 x 3, the default view is the centre panel, 1 x 1 at (1, 1).
#pragma once

namespace tavix::sim {

// PTZ wire action codes as the recorder receives them.
enum PtzCode : int {
    kPtzUp = 0,
    kPtzDown = 1,
    kPtzLeft = 2,
    kPtzRight = 3,
    kPtzZoomIn = 4,
    kPtzZoomOut = 5,
    kPtzFocusPlus = 7,
    kPtzFocusMinus = 8,
    kPtzIrisOpen = 9,
    kPtzIrisClose = 10,
};

class CameraView {
  public:
    static constexpr double kSceneSize = 3.0;
    static constexpr int kMaxZoomIn = 6;   // view 0.8^6 ~ 0.26 panels wide
    static constexpr int kMaxZoomOut = 4;  // view 0.8^-4 ~ 2.4 panels wide
    static constexpr int kLensSteps = 5;   // focus and iris go this far either way

    // One step: pan and tilt move the view by an eighth of its size (so a step at the default
    // zoom moves the picture by one colour bar); zoom scales it by 0.8; focus moves away from or
    // back to sharp; iris brightens or darkens. Unknown codes change nothing.
    void Apply(int wireCode);

    double Left() const { return centreX - ViewSize() / 2; }
    double Top() const { return centreY - ViewSize() / 2; }
    double ViewSize() const;  // width and height of the view in panels
    int Zoom() const { return zoom; }
    int Focus() const { return focus; }  // 0 sharp; the blur grows with the distance from 0
    int Iris() const { return iris; }    // 0 normal; positive brighter, negative darker

  private:
    void Clamp();

    double centreX = 1.5;
    double centreY = 1.5;
    int zoom = 0;  // positive: zoomed in
    int focus = 0;
    int iris = 0;
};

}  // namespace tavix::sim
