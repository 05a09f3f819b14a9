/* The C math functions of msvcrt.dll, declared for the clang build for
   Microsoft's ABI, which has no C library headers of its own here. */
#ifndef VSX_MSVC_ABI_MATH_H
#define VSX_MSVC_ABI_MATH_H

#ifdef __cplusplus
extern "C" {
#endif

double floor(double d);
double ceil(double d);
double fabs(double d);
double fmod(double dNumerator, double dDenominator);
double sqrt(double d);
double pow(double dBase, double dExponent);
double log(double d);
double exp(double d);
double modf(double d, double* pdWhole);

#ifdef __cplusplus
}
#endif

#endif
