// The prefix header shared by every application unit: the whole platform API.
#pragma once
#include <Carbon.h>

#include <cstdlib>
#include <cstring>
