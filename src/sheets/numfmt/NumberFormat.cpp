#include "sheets/NumberFormat.h"
