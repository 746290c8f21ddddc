// div_round is defined inline in its header, for the schemes' hot loops; this
// unit compiles the header on its own.
#include "divop/divop.hpp"
