#include "trap.h"
