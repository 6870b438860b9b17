// An X screen of the tests' own (Xvfb, no window manager) and what is needed to look at it: the
// programs that drive it, and the box of the picture on a screenshot.
#pragma once

#include <string>

#include "test_support.h"

// The program's path found through PATH; empty when it is not installed.
std::string programPath(const std::string& name);

struct XScreen {
  int pid = -1;
  std::string display;  // ":N"; empty when the server did not start
};
// Xvfb at width × height with a black root window, on a display number of its own choosing, ready for
// clients when this returns. `xvfb` is the server's path.
XScreen startXvfb(const std::string& xvfb, int width, int height);
// Ends the server (nothing when it did not start).
void stopXvfb(XScreen* screen);

// The smallest rectangle (edges included) that holds every pixel that is not pure black: with the bars
// and the desktop pure black, the presented picture. right < left when the image is all black.
struct Box {
  int left, top, right, bottom;
};
Box pictureBox(const Image& image);
// Within a pixel: scaling rounds, and GL counts rows from the bottom.
bool near(const Box& a, const Box& b);
// "x 192..831, y 144..623", for a failure's message.
std::string text(const Box& box);
