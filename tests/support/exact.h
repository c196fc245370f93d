#pragma once

// Exact arithmetic on float and double values, for oracles that must share
// nothing with the code they check: every finite value is a rational
// (GMP), so sums, products and quotients are exact; rounding to float or
// to double is done here, from the exact value, to nearest with ties to
// even, gradual underflow and overflow to infinity included. Infinities
// and NaNs follow IEEE 754 (zeros are unsigned: nothing checked here
// depends on the sign of a zero).
//
// Rationals rather than floating-point expansions: a quotient (the ray's
// distance, the barycentric coordinates) has no finite expansion, and its
// correct rounding needs an exact comparison, which a rational gives
// directly.

#include <gmpxx.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace exact {

using rational = mpq_class;

// A finite rational, or an infinity (q holds its sign, ±1), or NaN.
struct real {
    enum class kind { finite, infinite, nan };
    kind k = kind::finite;
    rational q;

    real() = default;
    real(const rational& r) : q(r) {}
    // Exactly the value of x (every finite double is a rational).
    real(double x) {
        if (std::isnan(x)) k = kind::nan;
        else if (std::isinf(x)) k = kind::infinite, q = x > 0 ? 1 : -1;
        else q = x;
    }
    bool finite() const { return k == kind::finite; }
    bool nan() const { return k == kind::nan; }
    int sign() const { return k == kind::nan ? 0 : sgn(q); }
};

inline real nan_value() {
    real r;
    r.k = real::kind::nan;
    return r;
}
inline real infinity(int sign) {
    real r(static_cast<double>(sign) * std::numeric_limits<double>::infinity());
    return r;
}

inline real operator+(const real& a, const real& b) {
    if (a.nan() || b.nan()) return nan_value();
    if (!a.finite() && !b.finite()) return a.sign() == b.sign() ? a : nan_value();
    if (!a.finite()) return a;
    if (!b.finite()) return b;
    return real(rational(a.q + b.q));
}
inline real operator-(const real& a) {
    real r = a;
    r.q = -r.q;
    return r;
}
inline real operator-(const real& a, const real& b) { return a + -b; }
inline real operator*(const real& a, const real& b) {
    if (a.nan() || b.nan()) return nan_value();
    if (!a.finite() || !b.finite()) return a.sign() * b.sign() == 0 ? nan_value() : infinity(a.sign() * b.sign());
    return real(rational(a.q * b.q));
}
inline real operator/(const real& a, const real& b) {
    if (a.nan() || b.nan() || (!a.finite() && !b.finite())) return nan_value();
    if (!a.finite()) return infinity(a.sign() * (b.sign() < 0 ? -1 : 1));
    if (!b.finite()) return real(0.0);
    if (b.sign() == 0) return a.sign() == 0 ? nan_value() : infinity(a.sign());
    return real(rational(a.q / b.q));
}

// Comparisons are false whenever a NaN takes part.
inline int compare(const real& a, const real& b) {
    if (!a.finite() && !b.finite()) return a.sign() < b.sign() ? -1 : a.sign() > b.sign() ? 1 : 0;
    if (!a.finite()) return a.sign();
    if (!b.finite()) return -b.sign();
    return cmp(a.q, b.q);
}
inline bool operator<(const real& a, const real& b) { return !a.nan() && !b.nan() && compare(a, b) < 0; }
inline bool operator>(const real& a, const real& b) { return b < a; }
inline bool operator>=(const real& a, const real& b) { return !a.nan() && !b.nan() && compare(a, b) >= 0; }

// A binary floating-point format: significand digits, exponents of the
// least and largest normal numbers.
struct format {
    int digits;
    int min_exponent;
    int max_exponent;
};
constexpr format single{24, -126, 127};
constexpr format binary64{53, -1022, 1023};

// floor(log2 |x|), x a nonzero rational.
inline long exponent_of(const rational& x) {
    const mpz_class n = abs(x.get_num());
    const mpz_class& d = x.get_den();
    long e = static_cast<long>(mpz_sizeinbase(n.get_mpz_t(), 2)) - static_cast<long>(mpz_sizeinbase(d.get_mpz_t(), 2));
    mpz_class scaled_d = d, scaled_n = n;
    if (e >= 0) mpz_mul_2exp(scaled_d.get_mpz_t(), d.get_mpz_t(), static_cast<unsigned long>(e));
    else mpz_mul_2exp(scaled_n.get_mpz_t(), n.get_mpz_t(), static_cast<unsigned long>(-e));
    return scaled_n >= scaled_d ? e : e - 1;
}

// x rounded to the format, to nearest with ties to even, as a double (the
// values of both formats are doubles); beyond the largest finite value of
// the format, an infinity.
inline double round_to(const real& x, const format& f) {
    if (x.nan()) return std::numeric_limits<double>::quiet_NaN();
    if (!x.finite()) return x.sign() * std::numeric_limits<double>::infinity();
    if (x.sign() == 0) return 0.0;
    // The quantum: the value of the last significand digit at x's exponent,
    // or at the least normal exponent below it.
    const long quantum = std::max(exponent_of(x.q), static_cast<long>(f.min_exponent)) - (f.digits - 1);
    mpz_class n = abs(x.q.get_num()), d = x.q.get_den();
    if (quantum >= 0) mpz_mul_2exp(d.get_mpz_t(), d.get_mpz_t(), static_cast<unsigned long>(quantum));
    else mpz_mul_2exp(n.get_mpz_t(), n.get_mpz_t(), static_cast<unsigned long>(-quantum));
    mpz_class m, r;
    mpz_fdiv_qr(m.get_mpz_t(), r.get_mpz_t(), n.get_mpz_t(), d.get_mpz_t());
    const int half = cmp(mpz_class(2 * r), d);
    if (half > 0 || (half == 0 && mpz_odd_p(m.get_mpz_t()))) ++m;
    const double largest = std::ldexp(2.0 - std::ldexp(1.0, 1 - f.digits), f.max_exponent);
    double magnitude = std::ldexp(m.get_d(), static_cast<int>(quantum));
    if (magnitude > largest) magnitude = std::numeric_limits<double>::infinity();
    return x.sign() < 0 ? -magnitude : magnitude;
}

inline float to_float(const real& x) { return static_cast<float>(round_to(x, single)); }
inline double to_double(const real& x) { return round_to(x, binary64); }

// The square root of a nonnegative float, correctly rounded to float.
inline float sqrt_to_float(float x) {
    if (!(x > 0.0f) || std::isinf(x)) return x == 0.0f ? 0.0f : x;  // NaN, negative and infinite stay as IEEE has them
    // x = m·2^e with e even; s = floor(sqrt(m·2^(2k))) has more digits than
    // a float, so s + 1/2 (when the root is not exact) rounds as the root.
    int e;
    const double fraction = std::frexp(static_cast<double>(x), &e);
    mpz_class m(std::ldexp(fraction, 53));
    e -= 53;
    if (e % 2 != 0) m *= 2, e -= 1;
    mpz_mul_2exp(m.get_mpz_t(), m.get_mpz_t(), 60);
    mpz_class s;
    mpz_sqrt(s.get_mpz_t(), m.get_mpz_t());
    rational root(s);
    if (s * s != m) root += rational(1, 2);
    const long half = (e - 60) / 2;
    if (half >= 0) mpq_mul_2exp(root.get_mpq_t(), root.get_mpq_t(), static_cast<unsigned long>(half));
    else mpq_div_2exp(root.get_mpq_t(), root.get_mpq_t(), static_cast<unsigned long>(-half));
    return to_float(real(root));
}

// One IEEE operation of either precision: the exact result of the
// operands, rounded.
inline float add_f(float a, float b) { return to_float(real(a) + real(b)); }
inline float sub_f(float a, float b) { return to_float(real(a) - real(b)); }
inline float mul_f(float a, float b) { return to_float(real(a) * real(b)); }
inline float div_f(float a, float b) { return to_float(real(a) / real(b)); }
inline double add_d(double a, double b) { return to_double(real(a) + real(b)); }
inline double sub_d(double a, double b) { return to_double(real(a) - real(b)); }
inline double mul_d(double a, double b) { return to_double(real(a) * real(b)); }
inline double div_d(double a, double b) { return to_double(real(a) / real(b)); }

}  // namespace exact
