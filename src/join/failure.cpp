#include "failure.h"
