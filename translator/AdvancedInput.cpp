#include "translator.h"
