// Every record the two programs exchange, written once, in registration order. The order is
// the protocol: every address follows from it, and both programs build the same list.
//
// Each row: the header's kind, object and topic, its tag, whether a peer may set it, the
// header's initial payload size, the registry member and its class, and what the driver does
// with a peer's copy:
//   Take         parsed into the record, as every frame is on the controller's side
//   Refuse       the driver's own state, which it publishes and never takes back: dropped
//   Check        a setting: parsed into a scratch copy, committed when every field a peer may
//                write is in range (protocol/setting_fields.h)
//   Acknowledge  an event the driver raises: the peer may only clear event valid
//
// The registry (protocol/registry.h) declares its members, its table and its peer rules from
// this list; the fields of each record are in its class (protocol/records.h), and what a
// setting's fields may hold in protocol/setting_fields.h.
#pragma once

// clang-format off
#define KV_RECORDS(X) \
    /* the driver's commands; DoReset asks for the hello answer, a peer's copy changes nothing */ \
    X(EVENT,   Driver,    DoStop,      0, true,  0, driverDoStop,      SetValue,          Take) \
    X(EVENT,   Driver,    DoReset,     0, true,  0, driverDoReset,     SetValue,          Take) \
    X(EVENT,   Driver,    DoHeartBeat, 0, false, 0, driverDoHeartBeat, SetValue,          Refuse) \
    /* Delay and start_at_boot come from DRIVER.INI alone */ \
    X(OBJECT,  Driver,    Config,      1, false, 0, driverConfig,      DriverConfig,      Refuse) \
    X(OBJECT,  Driver,    State,       0, false, 5, driverState,       DriverState,       Refuse) \
    X(EVENT,   Store,     DoSave,      0, true,  0, storeDoSave,       SetValue,          Take) \
    X(EVENT,   Store,     DoLoad,      0, true,  0, storeDoLoad,       SetValue,          Take) \
    X(OBJECT,  Store,     State,       1, false, 0, storeState,        StoreState,        Refuse) \
    /* nothing acts on the log's commands */ \
    X(EVENT,   Log,       DoStop,      0, true,  0, logDoStop,         SetValue,          Take) \
    X(EVENT,   Log,       DoRecord,    0, true,  0, logDoRecord,       SetValue,          Take) \
    X(EVENT,   Log,       DoPlay,      0, true,  0, logDoPlay,         SetValue,          Take) \
    X(OBJECT,  Log,       State,       1, false, 0, logState,          LogState,          Refuse) \
    /* the Controller's sensor model (MuxSize), kvctl */ \
    X(OBJECT,  Comms,     ReqState,    1, true,  0, commsReqState,     CommState,         Check) \
    /* the link in force; FramesLastPeriod paces the pointer smoothing */ \
    X(OBJECT,  Comms,     ActState,    1, false, 0, commsActState,     CommState,         Refuse) \
    X(OBJECT,  Comms,     ActStatus,   1, false, 0, commsActStatus,    CommsStatus,       Refuse) \
    /* the driver's live signals */ \
    X(OBJECT,  Graph,     State0,      1, false, 0, graphState0,       Graph,             Refuse) \
    X(OBJECT,  Graph,     State1,      1, false, 0, graphState1,       Graph,             Refuse) \
    X(OBJECT,  Graph,     State2,      1, false, 0, graphState2,       Graph,             Refuse) \
    X(OBJECT,  Graph,     State3,      1, false, 0, graphState3,       Graph,             Refuse) \
    /* the Controller's model, sliders and auto adaption */ \
    X(OBJECT,  Split,     State,       1, false, 0, splitState,        Split,             Check) \
    X(OBJECT,  Sense,     State,       1, true,  0, senseState,        SenceState,        Check) \
    X(OBJECT,  Sense,     Status,      1, false, 0, senseStatus,       SenseStatus,       Refuse) \
    /* the Controller's calibration dialog; no one sends DoStartPlus */ \
    X(EVENT,   Calib,     DoStart,     0, true,  0, calibDoStart,      SetValue,          Take) \
    X(EVENT,   Calib,     DoStartPlus, 0, true,  0, calibDoStartPlus,  SetValue,          Refuse) \
    X(EVENT,   Calib,     DoStop,      0, true,  0, calibDoStop,       SetValue,          Take) \
    X(EVENT,   Calib,     DoComplete,  0, false, 0, calibDoComplete,   SetValue,          Acknowledge) \
    /* only the touch region is a peer's; Active, Progress, Stage and Angle stay the driver's */ \
    X(OBJECT,  Calib,     State,       1, false, 0, calibState,        CalibrationState,  Check) \
    /* the driver's calibration measurements */ \
    X(OBJECT,  Calib,     Ref_TL,      1, false, 0, calibRefTL,        CalibrationData,   Refuse) \
    X(OBJECT,  Calib,     Ref_TR,      1, false, 0, calibRefTR,        CalibrationData,   Refuse) \
    X(OBJECT,  Calib,     Ref_BL,      1, false, 0, calibRefBL,        CalibrationData,   Refuse) \
    /* the Advanced and Setting pages, kvctl */ \
    X(OBJECT,  Edge,      State,       1, true,  0, edgeState,         EdgeState,         Check) \
    X(OBJECT,  Output,    State,       1, true,  0, outputState,       OutputState,       Check) \
    X(OBJECT,  Output,    Pointer,     1, true,  0, outputPointer,     Pointer,           Check) \
    X(OBJECT,  Mouse,     Damp,        1, true,  0, mouseDamp,         DampSettings,      Check) \
    /* the driver's pointer reports and texts */ \
    X(QUEUE,   Monitor,   Queue,       1, false, 0, monitorQueue,      MonitorQueue,      Refuse) \
    X(OBJECT,  Copyright, State,       1, false, 0, copyrightState,    CopyRight,         Refuse) \
    /* the Controller's presence */ \
    X(OBJECT,  Client,    client,      1, false, 0, clientClient,      ClientHereMessage, Take) \
    X(END,     ,          ,            0, false, 0, endMarker,         SetValue,          Refuse)
// clang-format on
