#include "sourcelist.h"
