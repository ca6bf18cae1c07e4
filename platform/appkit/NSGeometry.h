#pragma once

#include <cstdint>

// Window geometry in points, origin at the bottom left as AppKit has it.
struct NSPoint {
  double x = 0;
  double y = 0;
  friend bool operator==(const NSPoint&, const NSPoint&) = default;
};

struct NSSize {
  double width = 0;
  double height = 0;
  friend bool operator==(const NSSize&, const NSSize&) = default;
};

struct NSRect {
  NSPoint origin;
  NSSize size;
  friend bool operator==(const NSRect&, const NSRect&) = default;
};

inline NSRect NSMakeRect(double x, double y, double width, double height) {
  return NSRect{NSPoint{x, y}, NSSize{width, height}};
}

// A bit set of window decorations.
enum class NSWindowStyleMask : std::uint32_t {
  borderless = 0,
  titled = 1u << 0,
  closable = 1u << 1,
  miniaturizable = 1u << 2,
  resizable = 1u << 3,
};

constexpr NSWindowStyleMask operator|(NSWindowStyleMask a, NSWindowStyleMask b) {
  return static_cast<NSWindowStyleMask>(static_cast<std::uint32_t>(a) |
                                        static_cast<std::uint32_t>(b));
}

enum class NSBackingStoreType : std::uint32_t { buffered = 2 };
