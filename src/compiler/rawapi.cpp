#include "rawapi.h"
