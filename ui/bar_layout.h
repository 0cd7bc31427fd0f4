// Where the two bars lie on the skin (a 396×234 picture): each control's box
// on the dialog, where each fill style begins and ends in its box, and the
// grooves the skin draws under the fills. The bars, the dialog, the art
// generator and the tests of the art and of the window all take them from
// here, so the skin's grooves and the bars cannot drift apart.
#pragma once

struct BarBox {
  int x, y, w, h;
};

inline constexpr BarBox kMainBarBox{5, 183, 360, 48};
inline constexpr BarBox kSecondBarBox{17, 208, 295, 18};

// A fill style's place in its control: from (nLeft, nTop), drawn up to at
// most nRight (the control's own box clips it first).
struct BarFill {
  int nLeft, nTop, nRight;
};
inline constexpr BarFill kMainFill{32, 10, 365};    // style 1, the main bar
inline constexpr BarFill kSecondFill{76, 10, 380};  // style 2, the second bar

// The grooves: where each fill shows on the skin, as big as its picture.
inline constexpr BarBox kMainGroove{kMainBarBox.x + kMainFill.nLeft, kMainBarBox.y + kMainFill.nTop,
                                    326, 15};
inline constexpr BarBox kSecondGroove{kSecondBarBox.x + kSecondFill.nLeft,
                                      kSecondBarBox.y + kSecondFill.nTop, 210, 4};
