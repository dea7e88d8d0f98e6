// Image, pixel, geometry and database-schema helpers shared by the detection
// engine, the ROI shapes, the camera views and the record owners.
//
// Packed colour pixels are 32-bit words in QImage's RGB32 layout: blue in
// bits 0-7, green in 8-15, red in 16-23, the top byte alpha (never read here).
// Grey and hue pictures are one byte per pixel; rows follow each other
// without gaps in both kinds.
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

#include <opencv2/core.hpp>

class QSqlDatabase;

// trunc(i * weight * 1024) for the red (row 0), green (row 1) and blue (row 2)
// weights 0.299, 0.587 and 0.114.
extern const int (&gaRGB2Gray)[3][256];

// Writes `src` shifted by (dx, dy) into `dst`, zero where no source pixel
// falls. `dst` is (re)allocated to the source's size and type; it may be the
// source itself. An empty source leaves `dst` alone.
void MoveImage(const cv::Mat& src, cv::Mat& dst, int dx, int dy);

// Shifts by `shift`, then rotates by `angle` degrees (counter-clockwise)
// about `centre`; `dst` gets the source's size. Corners that would leave the
// picture during the turn are kept by working on a bordered copy.
void TransformImage(const cv::Mat& src, cv::Mat& dst, cv::Point shift, cv::Point centre, double angle);

// Pixel conversions: output first, input second; a width or height below 1
// leaves the output untouched. Large pictures are split over OpenCV's worker
// threads.
void RGBA2Gray(unsigned char* gray, const unsigned int* rgba, int width, int height);
void RGBA2Hue(unsigned char* hue, const unsigned int* rgba, int width, int height);
// Each word = g * 0x010101 with an opaque alpha byte, ready for display.
void Gray2RGBA(const unsigned char* gray, unsigned int* rgba, int width, int height);

// The single-pixel rules behind the picture conversions.
unsigned char rgbaToGrayPixel(unsigned int word);
unsigned char rgbaToHuePixel(unsigned int word);

// Clamps one screen coordinate: below 3 becomes 3, at or above limit - 2
// becomes limit - 3, the limit being gShowW for x (isX non-zero), gShowH for y.
// The width and height arguments are not used.
void CheckInRange(int* value, int isX, int width, int height);
// Orders the corners of `rect`, then clamps them (keepSize false) or moves
// the whole rectangle back onto the screen (keepSize true).
void CheckInRange(QRect* rect, int width, int height, bool keepSize);

// Touch tolerances are clamped to 3..50 pixels; distances must be strictly
// below the tolerance.
bool PointAround(QPoint a, QPoint b, int tolerance);
bool LineAround(int a, int b, int tolerance);
bool LineAround(int a, int b, int c, int low, int high, int tolerance);

// Schema helpers for databases written by older program versions. They use
// the caller's open connection and never open, close or commit. Table and
// column names are quoted as SQL identifiers.
bool columnExists(QSqlDatabase& db, const QString& table, const QString& column);
// True only when the column was added by this call.
bool addColumnIfNotExists(QSqlDatabase& db, const QString& table, const QString& column, const QString& type);
