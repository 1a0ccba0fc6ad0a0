#include "copyprocs.h"
