#include "subdirs.h"
