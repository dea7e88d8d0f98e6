// The machine outputs as the moulding cycle drives them: output bits of the
// I/O board's word (0 clamp, 1 ejector, 2 alarm, the interlocks of mode 3),
// sent together by flashOut, and the panel's LEDs.
#pragma once

class CycleBoard {
public:
    virtual ~CycleBoard() = default;
    // Output bit n of the wanted word: 1 interlock active (mould closing or
    // ejector forbidden), 0 released.
    virtual void setOut(int n, int on) = 0;
    // Hands the wanted word to the board now.
    virtual void flashOut() = 0;
    virtual void led(int n, int on) = 0;
};
