#include "packer.h"
