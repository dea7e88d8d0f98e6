// The machine outputs as the moulding cycle drives them: output bits of the
// I/O board's word (0 clamp, 1 ejector, 2 alarm, the interlocks of mode 3),
// sent together by flashOut, and the panel's LEDs.
#pragma once

#include <QtGlobal>

class CycleBoard {
public:
    virtual ~CycleBoard() = default;
    // Output bit n of the wanted word: 1 interlock active (mould closing or
    // ejector forbidden), 0 released.
    virtual void setOut(int n, int on) = 0;
    // Hands the wanted word to the board now.
    virtual void flashOut() = 0;
    virtual void led(int n, int on) = 0;
    // Steady-clock nanoseconds at which the board's thread saw the latest
    // rising input edge, and wrote the latest output frame; 0 when unknown.
    virtual qint64 inputEdgeNs() const { return 0; }
    virtual qint64 outputWrittenNs() const { return 0; }
    // Which outputs (bit per output of the wanted word) a rising edge of each
    // board input 0-9 holds in the cycle's present state and words: the
    // board's thread raises them the moment it latches the edge, before the
    // cycle has seen it. Handed over whenever it changes.
    virtual void edgeHolds(const int holds[10]) { (void)holds; }
    // Whether the board has reported its inputs since the program started
    // (the pass's level is then what the machine shows, not nothing yet).
    virtual bool inputsKnown() const { return true; }
    // The number of the latest input edge the cycle's pass has taken (the
    // board's thread numbers its edges as it latches them); 0 when unknown.
    virtual quint64 edgesTakenSeq() const { return 0; }
    // Replies of the board further apart than a short trigger pulse (which
    // may then have come and gone between them), as the cycle's pass took
    // them together with its edges: how many so far, the number of the
    // latest edge latched when the latest one ended (or was reported), and
    // its length. A board that stays silent is reported while the silence
    // lasts (`ongoing`, its length so far) and again by the reply that ends
    // it, with the whole length.
    // A board silent this long (ms) is a fault in any state; its silence
    // is reported a second time then, still `ongoing`.
    static constexpr int kSilenceMs = 500;
    struct PollGaps {
        quint64 count = 0;
        quint64 endSeq = 0;
        int lastMs = 0;
        bool ongoing = false;
    };
    virtual PollGaps pollGaps() const { return {}; }
};
