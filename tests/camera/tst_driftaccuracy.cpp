// Accuracy over a moving moulding cell: a short, fixed-seed slice of the
// drifting scene set (lighting drift and flicker, noise, shifts and
// rotations of the mould, blur, a part a little off its place, the first
// frames after the camera opened) judged by the engine as the cycle runs it,
// with the demo's region layout and a denser one. Good cycles must all pass;
// every injected defect must be found.
#include "defectvisibility.h"
#include "scenerenderer.h"
#include "testworkdir.h"
#include "viewrig.h"

#include <QtTest>

using rig::ViewRig;

namespace {

const cv::Size kFrame(480, 384);
constexpr int kProduct = 0;  // detection steps
constexpr int kCavity = 1;
constexpr int kFramesPerCycle = 7;
constexpr int kSensitivity = 60;
constexpr int kMinArea = 100;   // smallest defect area (word 117)

mouldcam::CameraConfig cameraConfig(quint32 seed)
{
    mouldcam::CameraConfig c;
    c.serial = QStringLiteral("SLICE-0001");
    c.width = kFrame.width;
    c.height = kFrame.height;
    c.seed = seed;
    c.drift.on = true;
    c.drift.period = 300;  // the whole swing of the light within the slice
    return c;
}

mouldcam::RenderState sceneState(bool product, unsigned defects = 0, double size = 1.0, double contrast = 1.0)
{
    mouldcam::RenderState st;
    st.scene = product ? mouldcam::Scene::Product : mouldcam::Scene::Empty;
    st.defects = defects;
    st.defectSize = size;
    st.defectContrast = contrast;
    return st;
}

cv::Mat render(mouldcam::SceneRenderer& renderer, quint64 frame, const mouldcam::RenderState& st)
{
    cv::Mat img(kFrame, CV_8UC1);
    renderer.render(frame, st, false, img.data);
    return img;
}

// Grey template regions: the demo's one region over most of the picture, or
// a grid of smaller ones with a positioning region of their own.
void addRegions(ViewRig& r, int step, bool dense)
{
    const int sensitivity = kSensitivity;
    if (!dense) {
        r.addRect(step, cv::Rect(kFrame.width / 20, kFrame.height / 20, kFrame.width * 9 / 10, kFrame.height * 9 / 10),
                  0, sensitivity, 100, 3);
        return;
    }
    r.addRect(step, cv::Rect(kFrame.width / 5, kFrame.height / 5, kFrame.width * 3 / 5, kFrame.height * 3 / 5), 3);
    const int cols = 4, rows = 3;
    const int w = kFrame.width * 8 / 10 / cols, h = kFrame.height * 8 / 10 / rows;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            r.addRect(step, cv::Rect(kFrame.width / 10 + x * w, kFrame.height / 10 + y * h, w - 2, h - 2), 0,
                      sensitivity, 100, 3);
}

}  // namespace

class TestDriftAccuracy : public QObject {
    Q_OBJECT
private slots:
    void goodCyclesPassAndDefectsAreCaught_data()
    {
        QTest::addColumn<bool>("dense");
        QTest::addColumn<quint32>("seed");
        QTest::newRow("demo layout") << false << 5u;
        QTest::newRow("dense layout") << true << 9u;
        // Templates from darker first frames than the pictures judged later.
        QTest::newRow("demo layout, dark start") << false << 17u;
    }
    void goodCyclesPassAndDefectsAreCaught()
    {
        QFETCH(bool, dense);
        QFETCH(quint32, seed);
        TestWorkDir wd;
        rig::Options o;
        o.width = kFrame.width;
        o.height = kFrame.height;
        o.steps = 2;
        ViewRig r(o);
        int* w = r.words();
        w[96] = 0;     // positioning on
        w[186] = 3;    // with rotation
        w[148] = dense ? 40 : 8000;
        w[116] = 3;
        w[117] = kMinArea;
        w[171] = 3;

        // The templates come from the first frames after the camera opened.
        mouldcam::SceneRenderer renderer(cameraConfig(seed));
        r.setTemplate(kProduct, 0, render(renderer, 0, sceneState(true)));
        r.setTemplate(kCavity, 0, render(renderer, 1, sceneState(false)));
        for (int step : {kProduct, kCavity}) {
            addRegions(r, step, dense);
            r.train(step);
        }

        const std::vector<mouldcam::DefectCase> cases = mouldcam::defectCases({1.0, 1.6}, {0.6, 1.0});
        const int goodCycles = 60;
        QStringList falseNg, missed;
        size_t caught = 0;
        quint64 frame = 2;
        size_t next = 0;
        for (int cycle = 0; cycle < goodCycles + int(cases.size()); ++cycle, frame += kFramesPerCycle) {
            // Defect cycles are spread over the run, between good ones.
            const bool defective = next < cases.size() && cycle % 2 == 1;
            const mouldcam::DefectCase c = defective ? cases[next++] : mouldcam::DefectCase{};
            for (int step : {kProduct, kCavity}) {
                const bool product = step == kProduct;
                const bool here = defective && c.onProduct == product;
                const mouldcam::RenderState st = sceneState(product, here ? c.defect : 0, c.size, c.contrast);
                r.setCapture(render(renderer, frame + quint64(step), st));
                r.detect(step);
                const QString what = QStringLiteral("cycle %1 step %2").arg(cycle).arg(step);
                caught += here && !r.view->stepOk ? 1 : 0;
                if (here && r.view->stepOk) {
                    // Only a defect larger than the region's smallest
                    // defect area (a fifth to spare) must be found.
                    const int area = visibleDefectArea(renderer, frame + quint64(step), st, r.engine(), r.rec(), step);
                    if (area > kMinArea * 6 / 5)
                        missed << what + QStringLiteral(": %1 x%2 at %3, area %4").arg(c.name).arg(c.size)
                                             .arg(c.contrast).arg(area);
                }
                if (!here && !r.view->stepOk)
                    falseNg << what + QStringLiteral(": value %1").arg(r.view->roiValue[step][dense ? 1 : 0]);
            }
        }
        QCOMPARE(next, cases.size());
        QVERIFY(caught >= cases.size() * 3 / 4);  // most of them are well visible
        QVERIFY2(falseNg.isEmpty(), qPrintable(falseNg.join(QStringLiteral("; "))));
        QVERIFY2(missed.isEmpty(), qPrintable(missed.join(QStringLiteral("; "))));
    }
};

QTEST_MAIN(TestDriftAccuracy)
#include "tst_driftaccuracy.moc"
