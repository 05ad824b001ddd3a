// What the simulated printer's parts share: its fixed print schemes and
// canvases, and filling the library's result structures.
#pragma once

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace sim {

struct Scheme
{
    const char* name;
    int id;
};
inline const Scheme kSchemes[] = {{"Standard 600x600", 1}, {"Fine 1200x600", 2}, {"Draft 300x300", 3}};
constexpr int kSchemeCount = 3;
constexpr float kMaxCanvasW = 1200, kMaxCanvasH = 900;
inline const float kCanvases[][2] = {{600, 400}, {900, 600}, {1200, 900}};
constexpr int kStepsPerCopy = 5;

// Copies UTF-8 text into a fixed field of a result structure, cut to fit and
// always terminated.
template <size_t N>
void copyText(char (&dst)[N], const QString& s)
{
    const QByteArray b = s.toUtf8();
    const size_t n = std::min(static_cast<size_t>(b.size()), N - 1);
    std::memcpy(dst, b.constData(), n);
    dst[n] = '\0';
}

// Arrays handed to the library are freed by OnFreeMemory, that is free().
template <typename T>
T* allocArray(int n)
{
    return static_cast<T*>(std::calloc(static_cast<size_t>(n > 0 ? n : 1), sizeof(T)));
}

} // namespace sim
