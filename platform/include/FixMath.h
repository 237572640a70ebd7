// Fixed-point arithmetic.
#pragma once
#include "MacTypes.h"

Fixed FixRatio(short numer, short denom);
Fixed FixMul(Fixed a, Fixed b);
Fixed FixDiv(Fixed a, Fixed b);
short FixRound(Fixed x);
Fixed Long2Fix(long x);
long Fix2Long(Fixed x);
double Fix2X(Fixed x);
Fixed X2Fix(double x);
