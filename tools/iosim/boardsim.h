// A simulated I/O board on a pseudo-terminal. The program opens the slave
// side as its serial port; the simulator answers on the master side as the
// board would: command 1 sets the outputs, command 2 returns the inputs and
// the echoed outputs, commands 3 and 4 return a 32-bit value. Inputs can be
// pulsed on a schedule (a mould cycle), and replies can be split, corrupted,
// dropped or preceded by garbage to exercise the program's receiver.
#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class BoardSimulator {
public:
    struct Pulse {
        int bit = 0;          // input bit (0-9)
        int periodMs = 5000;  // one cycle
        int offsetMs = 0;     // rise after this much of each cycle
        int widthMs = 1000;   // high for this long
    };
    // The board silent (a loose cable: the program's frames are lost and
    // nothing is answered) for `lengthMs` from `offsetMs` of every period.
    struct Silence {
        int periodMs = 5000;
        int offsetMs = 0;
        int lengthMs = 300;
    };
    struct Faults {
        int garbageEvery = 0;  // every Nth reply is preceded by garbage
        int splitEvery = 0;    // every Nth reply is written in two parts
        int corruptEvery = 0;  // every Nth reply gets a wrong checksum
        int dropEvery = 0;     // every Nth reply is not sent
    };

    BoardSimulator();
    ~BoardSimulator();

    // Opens the pseudo-terminal pair; returns false on failure.
    bool open();
    QString slaveName() const { return slave_; }
    // Answers frames on a thread of its own until stop().
    void start();
    void stop();

    // The program's port closed (its process ended): as on a serial line
    // that nobody holds open, the requests it sent that the board has not
    // taken yet go unanswered, and the replies it did not read are lost; a
    // program started next never reads an answer to a request of the one
    // before. Inputs, outputs and the history stay.
    void portClosed();

    void setInputs(int word);
    int inputs() const { return inputs_.load(); }
    int outputs() const { return outputs_.load(); }
    void setPulses(const std::vector<Pulse>& pulses);
    void setFaults(const Faults& f);
    void setSilences(const std::vector<Silence>& silences);
    // Silent from now on for `ms` (any thread, a signal handler too).
    void silenceFor(int ms) { silentUntilMs_ = nowMs() + ms; }
    static qint64 nowMs();
    void setValue(quint32 v) { value_ = v; }

    // Counters of what the program sent.
    int framesOf(int command) const;
    // Every host frame received, in order (command, value).
    std::vector<std::pair<int, int>> history() const;

    // A tap on the line, for the benchmarks: called on the simulator's thread
    // with every host frame as it is taken (toBoard true) and every reply as
    // it is written, with its command and value (a reply 2's input word).
    // Set before start().
    using Tap = std::function<void(bool toBoard, int command, int value)>;
    void setTap(Tap tap) { tap_ = std::move(tap); }

    // Bytes put on the line as the board's, outside any request (what a
    // run before left unread).
    void writeRaw(const QByteArray& bytes);

    // Frame builders shared with the tests.
    static QByteArray boardFrame(int command, quint32 payload);
    static QByteArray reply2(int inputs, int outputs);

private:
    void loop();
    void handle(int command, int value);
    void send(const QByteArray& frame);
    int scheduledInputs(qint64 nowMs) const;
    bool silentNow() const;

    int master_ = -1;
    int slaveKeep_ = -1;
    QString slave_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<int> inputs_{0};
    std::atomic<int> outputs_{0};
    std::atomic<quint32> value_{0x12345678};
    mutable std::mutex mutex_;
    std::vector<Pulse> pulses_;
    std::vector<Silence> silences_;
    std::atomic<qint64> silentUntilMs_{0};
    Faults faults_;
    int replyCount_ = 0;
    int counts_[256] = {};
    std::vector<std::pair<int, int>> history_;
    qint64 startMs_ = 0;
    Tap tap_;
};
