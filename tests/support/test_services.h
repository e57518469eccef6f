// The test services, declared with the other helpers.
#include "test_support.h"
