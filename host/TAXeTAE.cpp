#include "host/TAXeTAE.h"

// The control is made by class identifier through the component layer, which
// names the engine's library in the registry. This build has no component
// layer yet, so no control can be made: the window starts without one and
// refuses the first unit load as a control of unknown version.
std::unique_ptr<TAXeTAE> CreateAXeTAE(std::string& reason) {
  reason = "this build has no component layer to create the lesson control";
  return nullptr;
}
