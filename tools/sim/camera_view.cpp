#include "tools/sim/camera_view.h"

#include <algorithm>
#include <cmath>

namespace tavix::sim {

double CameraView::ViewSize() const {
    return std::pow(0.8, zoom);
}

void CameraView::Apply(int wireCode) {
    double step = ViewSize() / 8;
    switch (wireCode) {
        case kPtzUp:
            centreY -= step;
            break;
        case kPtzDown:
            centreY += step;
            break;
        case kPtzLeft:
            centreX -= step;
            break;
        case kPtzRight:
            centreX += step;
            break;
        case kPtzZoomIn:
            zoom = std::min(zoom + 1, kMaxZoomIn);
            break;
        case kPtzZoomOut:
            zoom = std::max(zoom - 1, -kMaxZoomOut);
            break;
        case kPtzFocusPlus:
            focus = std::min(focus + 1, kLensSteps);
            break;
        case kPtzFocusMinus:
            focus = std::max(focus - 1, -kLensSteps);
            break;
        case kPtzIrisOpen:
            iris = std::min(iris + 1, kLensSteps);
            break;
        case kPtzIrisClose:
            iris = std::max(iris - 1, -kLensSteps);
            break;
        default:
            return;
    }
    Clamp();
}

void CameraView::Clamp() {
    // The view stays inside the scene.
    double half = ViewSize() / 2;
    centreX = std::clamp(centreX, half, kSceneSize - half);
    centreY = std::clamp(centreY, half, kSceneSize - half);
}

}  // namespace tavix::sim
