// The monitor choice as touch region values: fractions of the desktop, the record values of a
// choice, lookup by name, and the area the calibration dialog covers; which compositor is told
// about the chosen monitor, and what.
#include <QTest>

#include "controller/models/monitor_choice.h"
#include "controller/platform/output_mapping.h"

using namespace kv::controller;

namespace {

// Two monitors side by side, the right-hand one taller and lower than the left.
QList<MonitorInfo> TwoMonitors() {
    return {{QStringLiteral("HDMI-1"), QRect(0, 0, 1920, 1080)},
            {QStringLiteral("DP-2"), QRect(1920, 120, 1280, 1024)}};
}

const QRect kDesktop(0, 0, 3200, 1144);

void Compare(const RegionFractions& got, const RegionFractions& want) {
    QVERIFY2(qAbs(got.left - want.left) < 1e-6f, qPrintable(QString::number(got.left)));
    QVERIFY2(qAbs(got.top - want.top) < 1e-6f, qPrintable(QString::number(got.top)));
    QVERIFY2(qAbs(got.right - want.right) < 1e-6f, qPrintable(QString::number(got.right)));
    QVERIFY2(qAbs(got.bottom - want.bottom) < 1e-6f, qPrintable(QString::number(got.bottom)));
}

}  // namespace

class MonitorChoiceTest : public QObject {
    Q_OBJECT
private slots:
    void RegionIsTheMonitorsShareOfTheDesktop() {
        // The right half of a 2560 x 800 desktop, to its far edge.
        Compare(RegionOf(QRect(1280, 0, 1280, 800), QRect(0, 0, 2560, 800)), {0.5f, 0, 1, 1});
        Compare(RegionOf(QRect(1920, 120, 1280, 1024), kDesktop),
                {0.6f, 120.0f / 1144.0f, 1.0f, 1.0f});
        // A desktop that does not start at 0, 0 (a monitor left of the primary one).
        Compare(RegionOf(QRect(-1280, 0, 1280, 800), QRect(-1280, 0, 2560, 800)),
                {0.0f, 0.0f, 0.5f, 1.0f});
        // Past the desktop while a layout changes, or an empty desktop: kept within 0..1.
        Compare(RegionOf(QRect(2000, -50, 1280, 900), QRect(0, 0, 2560, 800)),
                {2000.0f / 2560.0f, 0.0f, 1.0f, 1.0f});
        Compare(RegionOf(QRect(0, 0, 10, 10), QRect()), {0, 0, 0, 0});
    }

    void ChoiceGivesTheRecordValues() {
        const QList<MonitorInfo> monitors = TwoMonitors();
        const std::optional<MonitorRegion> right =
            RegionForChoice(monitors, kDesktop, QStringLiteral("DP-2"));
        QVERIFY(right.has_value());
        QCOMPARE(right->flag, 2);
        Compare(right->region, {0.6f, 120.0f / 1144.0f, 1.0f, 1.0f});

        // The whole desktop: no regional mapping and the full region.
        const std::optional<MonitorRegion> whole = RegionForChoice(monitors, kDesktop, {});
        QVERIFY(whole.has_value());
        QCOMPARE(whole->flag, 1);
        Compare(whole->region, {0, 0, 1, 1});

        // A monitor that is not connected (names match exactly).
        QVERIFY(!RegionForChoice(monitors, kDesktop, QStringLiteral("HDMI-2")).has_value());
        QVERIFY(!RegionForChoice(monitors, kDesktop, QStringLiteral("dp-2")).has_value());
        QVERIFY(!RegionForChoice({}, kDesktop, QStringLiteral("DP-2")).has_value());

        // Into the record, which reports whether anything changed.
        kv::CalibrationState state;
        state.exclude_edge_flag = 0;
        QVERIFY(ApplyRegion(*right, state));
        QCOMPARE(static_cast<int>(state.exclude_edge_flag), 2);
        QCOMPARE(static_cast<float>(state.exclude_edge_left), 0.6f);
        QCOMPARE(static_cast<float>(state.exclude_edge_right), 1.0f);
        QVERIFY(!ApplyRegion(*right, state));
        QVERIFY(ApplyRegion(*whole, state));
        QCOMPARE(static_cast<int>(state.exclude_edge_flag), 1);
        QCOMPARE(static_cast<float>(state.exclude_edge_left), 0.0f);
        QCOMPARE(static_cast<float>(state.exclude_edge_top), 0.0f);
    }

    void LabelsAndLookup() {
        const QList<MonitorInfo> monitors = TwoMonitors();
        QCOMPARE(MonitorLabel(monitors[0]), QStringLiteral("HDMI-1 (1920\u00d71080)"));
        QCOMPARE(FindMonitor(monitors, QStringLiteral("DP-2")), std::optional<qsizetype>(1));
        QVERIFY(!FindMonitor(monitors, QString()).has_value());
    }

    void CalibrationCoversTheChosenMonitor() {
        const QList<MonitorInfo> monitors = TwoMonitors();
        QCOMPARE(CalibrationArea(monitors, kDesktop, QStringLiteral("DP-2")),
                 QRect(1920, 120, 1280, 1024));
        QCOMPARE(CalibrationArea(monitors, kDesktop, QString()), kDesktop);
        QCOMPARE(CalibrationArea(monitors, kDesktop, QStringLiteral("gone")), kDesktop);
    }

    void TheSessionsCompositorIsToldOrShownTheSetting() {
        struct Case {
            const char* wayland;
            const char* swaysock;
            const char* desktop;
            bool mapper;
            bool touchscreenTied;
            const char* note;  // a part of the note for DP-1
        } const cases[] = {
            // X11, also with a sway socket left in the environment.
            {nullptr, "/run/user/1000/sway-ipc.sock", "GNOME", false, false, ""},
            // sway, not reachable here: the driver keeps the foil on the output itself.
            {"wayland-1", "/nonexistent/sway-ipc.sock", "sway", true, false,
             "sway did not take the mapping"},
            {"wayland-0", nullptr, "KDE", true, true, "OutputName=DP-1"},
            {"wayland-0", nullptr, "ubuntu:GNOME", true, true,
             "touchscreens/dddd:0001/ output \"['VENDOR', 'PRODUCT', 'SERIAL']\""},
            {"wayland-0", nullptr, "weston", true, true, "ENV{WL_OUTPUT}=\"DP-1\""},
            // wlroots compositors spread both devices over all outputs: the region holds.
            {"wayland-0", nullptr, "wayfire", false, false, ""},
        };
        for (const Case& c : cases) {
            QProcessEnvironment environment;
            if (c.wayland != nullptr) {
                environment.insert(QStringLiteral("WAYLAND_DISPLAY"), c.wayland);
            }
            if (c.swaysock != nullptr) {
                environment.insert(QStringLiteral("SWAYSOCK"), c.swaysock);
            }
            environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), c.desktop);
            const std::unique_ptr<OutputMapper> mapper = MakeOutputMapper(environment);
            QCOMPARE(mapper != nullptr, c.mapper);
            if (!mapper) {
                continue;
            }
            const OutputMapping mapping = mapper->Map(QStringLiteral("DP-1"));
            QCOMPARE(mapping.touchscreenTied, c.touchscreenTied);
            QVERIFY2(mapping.note.contains(QLatin1String(c.note)), qPrintable(mapping.note));
            // A name that could add lines to a setting is not put into one.
            const OutputMapping odd = mapper->Map(QStringLiteral("DP-1\n[x]"));
            QVERIFY(!odd.touchscreenTied && !odd.pointerTied);
            for (const char* setting : {"map_to_output", "OutputName", "WL_OUTPUT", "gsettings"}) {
                QVERIFY2(!odd.note.contains(QLatin1String(setting)), qPrintable(odd.note));
            }
        }
    }
};

QTEST_APPLESS_MAIN(MonitorChoiceTest)
#include "monitor_choice_test.moc"
