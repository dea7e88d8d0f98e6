// The per-camera record: for each of the 8 detection steps up to 100 regions
// of interest (ROIs) with shape, detection method, three method parameters
// and output number, plus eight step values per step.
//
// ROI i of step g is entry j = g * 100 + i of the per-ROI arrays. Kinds:
// 1 rectangle, 2 polygon (stored as 258 when drawn free-hand), 4 circle.
// Stored in PARAM.db, table "cammer<camera>", rows detect<g> and ROI<g>-<i>.
#pragma once

#include "circle.h"
#include "roishape.h"
#include "polygon.h"
#include "rect.h"

#include <QMetaType>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

#include <opencv2/core.hpp>

class QSqlQuery;

// What the owning camera view lends to a load: its full-view scale and its
// engine masks `liveMasks` (800 entries, index step * 100 + roi), which the
// load refills. A null mask pointer leaves masks alone.
struct RoiViewLink {
    float sx = 1.0f;
    float sy = 1.0f;
    cv::Mat* liveMasks = nullptr;
};

class CammerSingleton {
public:
    static constexpr int kSteps = 8;
    static constexpr int kRois = 100;
    static constexpr int kSlots = kSteps * kRois;

    explicit CammerSingleton(int camera = 0);

    // Loads the record from table "cammer<camera>". `view` is the owning
    // camera view; what it lends is found through the resolver that the
    // camera views install (setViewResolver). Damaged rows are repaired:
    // shapes are clamped into the view, unusable ROIs become the default
    // rectangle.
    void LoadDatafromFile(void* view);
    void LoadDatafromFile(const RoiViewLink& view);
    // Writes the record in one transaction: the step rows, one row per ROI,
    // and removes the rows of ROIs past each step's count.
    void SaveDatatoFile();
    // Snapshot of ROI i of `step` (the step being edited): index, method,
    // p1, p2, p3; a step or index outside the ROIs changes nothing.
    void setSelectRoi(int step, int i);

    using ViewResolver = RoiViewLink (*)(void* view);
    static void setViewResolver(ViewResolver resolver);

    // Row-level storage on any PARAM.db connection.
    bool LoadRows(QSqlDatabase db, QSqlQuery& q, const RoiViewLink& view);
    bool SaveRows(QSqlDatabase db, QSqlQuery& q) const;
    QString tableName() const;
    // The texts a save writes into rows detect<g> and ROI<g>-<i>.
    QString detectText(int g) const;
    QString roiText(int g, int i) const;

    // ROI j becomes the default rectangle (50, 50)-(100, 100) with the
    // default method parameters; its picture geometry follows the scale.
    void SetDefaultRoi(int g, int i, float sx, float sy);
    // Same method, parameters, kind and geometry of the shape of that kind.
    bool sameRoi(const CammerSingleton& o, int j) const;
    // Same detection data: counts, every ROI in use, output numbers and step
    // values. Selection states and the selection copy are not compared.
    bool operator==(const CammerSingleton& o) const;
    bool operator!=(const CammerSingleton& o) const { return !(*this == o); }

    int camera = 0;
    int roiCount[kSteps] = {};
    int p1[kSlots] = {};
    int p2[kSlots] = {};
    int p3[kSlots] = {};
    int method[kSlots] = {};
    int kind[kSlots] = {};
    int outputNo[kRois] = {};          // by ROI number, shared by all steps; 0..3
    int stepValue[kSteps][8] = {};     // stored and loaded unchanged
    ClustomRect rect[kSteps][kRois];
    Circle circle[kSteps][kRois];
    RePolygon polygon[kSteps][kRois];

    // Selection copy (setSelectRoi).
    int selRoi = 0;
    int selMethod = 0;
    int selP1 = 0;
    int selP2 = 0;
    int selP3 = 0;

private:
    // Fills ROI i of step g from the numbers of its stored row, the shape
    // clamped into the view, and makes its mask. False (mask and shape left
    // as they were) for a shape kind it does not know.
    bool readRoiRow(int g, int i, const QVector<int>& numbers, float sx, float sy, cv::Mat& mask);
};

// Camera views hand their saved record to the camera plug-in wrapped in a
// QVariant.
Q_DECLARE_METATYPE(CammerSingleton*)
