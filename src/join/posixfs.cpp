#include "posixfs.h"
