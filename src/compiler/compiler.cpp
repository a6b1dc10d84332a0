#include "compiler.h"
