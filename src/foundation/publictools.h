// Small helpers shared by the whole program: clock readings in the units of
// the network code, IPv4 and MAC address texts, the state of a network
// interface, a random local port, task identifiers, the device identity and
// the development-computer check. No state is kept between calls; all of
// them may be called from any thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <string>

// Wall-clock milliseconds since 1970-01-01 UTC.
qint64 gettimeofday_ms();
// A 10 ms tick: (gettimeofday_ms() / 10) % 1 000 000 000; wraps after ~115 days.
int curtime_qint64_2_int();
// Ticks from `earlier` to `later`, correct across the wrap of the tick
// (positive when `later` is after `earlier`, within half a wrap period).
int curtime_tick_diff(int later, int earlier);
constexpr int kTickWrap = 1000000000;
// Milliseconds of a monotonic clock, for ageing, time-outs and watchdogs,
// which must not jump when the operator sets the clock.
qint64 monotonic_ms();

// Open-file descriptors. The soft limit is raised to the hard limit at
// start; network servers keep their connections below the limit minus a
// reserve, so that the program itself (a thread's event loop, a database, a
// picture file) never meets "too many open files".
// Raises the soft limit to the hard limit; returns the soft limit in force
// afterwards (-1 when it cannot be read).
int raiseDescriptorLimit();
// The soft limit in force now (INT_MAX when unlimited, -1 when unreadable).
int descriptorLimit();
// Descriptors kept for the program's own use under a limit of `limit`.
int descriptorReserve(int limit);

// "SC_#<8 hex digits of a fresh UUID>_#yyyyMMdd_hhmmsszzz" (32 characters).
QString new_uuid();
// A local UDP port above 10000 that is not one of 10410..10419.
unsigned short RandPort();

// Dotted text of an IPv4 address in network byte order.
std::string nint2string(unsigned int addr);
// "00:11:22:33:44:ff" form of 6 bytes.
std::string ethaddr2string(const unsigned char* mac);
// Parses six ":"-separated hex groups into `out` (an unreadable group gives
// 0); any other number of groups leaves `out` untouched. Always returns 0.
int string2ethaddr(const QString& text, unsigned char* out);
// Replaces the last of four dotted numbers; 1 when done, 0 (text unchanged)
// when the text does not have four parts.
int setIPLast(QString& ip, int last);
// Network address of `ip` under `mask`, or an empty text for malformed input.
QString getSubNet(const QString& ip, const QString& mask);
// Adds O_NONBLOCK to the descriptor; 0, or -1 when the flags cannot be read
// or written.
int set_socket_nonblock(int fd);

// Fills `mac`, `ip`, `mask` and `gateway` (each at least 32 bytes) for the
// interface `name` (at most 15 characters). The gateway is that of the first
// default route in /proc/net/route; when there is none, a default route
// through the interface's own address is set (through the platform layer)
// and that address is reported. Returns 0, or -1 no socket, -2 no hardware
// address (also for a missing or over-long name), -4 no IPv4 address,
// -5 no netmask, -6 no route table, -7 no socket for the route change,
// -8 the route change failed.
int GetIfAddr(const char* name, char* ip, char* mask, char* gateway, char* mac);

// The device identity: the processor serial number of the cpuinfo file, else
// the last group of the UUID of the last ext4 file system blkid lists, else
// a stand-in kept in `standInPath` (made once from the time in milliseconds);
// without ";" and reduced to the part after the last "-". The paths can be
// replaced for tests.
QString getlocal_deviceid(const QString& cpuinfoPath = QStringLiteral("/proc/cpuinfo"),
                          const QString& standInPath = QStringLiteral("./deviceid"));
// UUID of the last ext4 file system in blkid's list, or an empty text
// (blkid is run through the platform runner with a 1000 ms limit).
QString found_diskuuid_by_blkid();
// The rule behind found_diskuuid_by_blkid, applied to blkid's output.
QString diskUuidFromBlkid(const QByteArray& output);

// True on a development computer: QT_QPA_PLATFORM_PLUGIN_PATH, as a shell
// sees it, is "/opt/Qt5.15.7/plugins/platforms".
bool isOpen_Env();
