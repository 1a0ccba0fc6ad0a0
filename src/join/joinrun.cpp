#include "joinrun.h"
