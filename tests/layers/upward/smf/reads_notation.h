// The file layer reaching up to the notation builder: the offence the layer
// check exists to catch (tests/CMakeLists.txt, test layers.catches_upward_include).
#include "../notation/stage.h"
