// QMIDICTLXControl: a label widget that carries the whole QMIDI engine.
//
// Place a TQMIDICTLX in any Qt window. It creates one engine object on the
// session D-Bus (the bus starts the engine, qmidiexe, when it is registered
// and not running) and forwards every engine property and method to it.
// Engine failures never reach the container: a get that fails returns a
// fixed fallback, a put or method that fails does nothing. Progress and the
// end of playback arrive as the signal OnStatus once the container connects
// to it; the control that called PLAY last receives them.
//
//   auto* midi = new TQMIDICTLX(window);
//   QObject::connect(midi, &TQMIDICTLX::OnStatus, [](int v1, int, int, int) { ... });
//   midi->setMIDIFILENAME("/music/SONG.MID");
//   midi->PLAY();
#pragma once

#include <QWidget>

#include <memory>

#if defined(QMIDICTLXCONTROL_LIBRARY)
#define QMIDICTLXCONTROL_EXPORT Q_DECL_EXPORT
#else
#define QMIDICTLXCONTROL_EXPORT Q_DECL_IMPORT
#endif

class TQMIDICTL;

class QMIDICTLXCONTROL_EXPORT TQMIDICTLX : public QWidget {
  Q_OBJECT

  // Engine members (forwarded to the engine's Qmidiexe.IQMIDIOLE object).
  Q_PROPERTY(int DEVICEID1A READ DEVICEID1A WRITE setDEVICEID1A)
  Q_PROPERTY(int DEVICEID1B READ DEVICEID1B WRITE setDEVICEID1B)
  Q_PROPERTY(int DEVICEID2A READ DEVICEID2A WRITE setDEVICEID2A)
  Q_PROPERTY(int DEVICEID2B READ DEVICEID2B WRITE setDEVICEID2B)
  Q_PROPERTY(int ERRORCODE READ ERRORCODE)
  Q_PROPERTY(int POSITION READ POSITION)
  Q_PROPERTY(int LENGTH READ LENGTH)
  Q_PROPERTY(QString MIDIFILENAME READ MIDIFILENAME WRITE setMIDIFILENAME)
  Q_PROPERTY(int RESETMODE READ RESETMODE WRITE setRESETMODE)
  Q_PROPERTY(int SCOREHEIGHT READ SCOREHEIGHT WRITE setSCOREHEIGHT)
  Q_PROPERTY(int SCORELEFT READ SCORELEFT WRITE setSCORELEFT)
  Q_PROPERTY(int SCORETOP READ SCORETOP WRITE setSCORETOP)
  Q_PROPERTY(bool SCOREVISIBLE READ SCOREVISIBLE WRITE setSCOREVISIBLE)
  Q_PROPERTY(int SCOREWIDTH READ SCOREWIDTH WRITE setSCOREWIDTH)
  Q_PROPERTY(int SPEED READ SPEED WRITE setSPEED)
  Q_PROPERTY(int STATUSCODE READ STATUSCODE)
  Q_PROPERTY(int WRDDELAY READ WRDDELAY WRITE setWRDDELAY)
  Q_PROPERTY(bool WRDFULLSCREEN READ WRDFULLSCREEN WRITE setWRDFULLSCREEN)
  Q_PROPERTY(int WRDLEFT READ WRDLEFT WRITE setWRDLEFT)
  Q_PROPERTY(int WRDTOP READ WRDTOP WRITE setWRDTOP)
  Q_PROPERTY(bool WRDVISIBLE READ WRDVISIBLE WRITE setWRDVISIBLE)
  Q_PROPERTY(int DEVBALANCE READ DEVBALANCE WRITE setDEVBALANCE)
  Q_PROPERTY(int DEVVOLUME READ DEVVOLUME WRITE setDEVVOLUME)
  Q_PROPERTY(int EXTOPTION1 READ EXTOPTION1 WRITE setEXTOPTION1)
  Q_PROPERTY(int EXTOPTION2 READ EXTOPTION2 WRITE setEXTOPTION2)
  Q_PROPERTY(int EXTOPTION3 READ EXTOPTION3 WRITE setEXTOPTION3)
  Q_PROPERTY(int EXTOPTION4 READ EXTOPTION4 WRITE setEXTOPTION4)
  Q_PROPERTY(int MIDICURRENTTIME1 READ MIDICURRENTTIME1 WRITE setMIDICURRENTTIME1)
  Q_PROPERTY(int MIDICURRENTTIME2 READ MIDICURRENTTIME2 WRITE setMIDICURRENTTIME2)
  Q_PROPERTY(int MIDIDISABLE READ MIDIDISABLE WRITE setMIDIDISABLE)
  Q_PROPERTY(QString MIDIMEMO READ MIDIMEMO WRITE setMIDIMEMO)
  Q_PROPERTY(int MIDITIMEOPTION1 READ MIDITIMEOPTION1 WRITE setMIDITIMEOPTION1)
  Q_PROPERTY(int MIDITIMEOPTION2 READ MIDITIMEOPTION2 WRITE setMIDITIMEOPTION2)
  Q_PROPERTY(QString MIDITITLE READ MIDITITLE WRITE setMIDITITLE)
  Q_PROPERTY(int MIDITOTALTIME1 READ MIDITOTALTIME1)
  Q_PROPERTY(int MIDITOTALTIME2 READ MIDITOTALTIME2)
  Q_PROPERTY(int OUTSTATUSBNK READ OUTSTATUSBNK)
  Q_PROPERTY(int OUTSTATUSCH READ OUTSTATUSCH WRITE setOUTSTATUSCH)
  Q_PROPERTY(bool OUTSTATUSENABLE READ OUTSTATUSENABLE WRITE setOUTSTATUSENABLE)
  Q_PROPERTY(int OUTSTATUSID READ OUTSTATUSID)
  Q_PROPERTY(int OUTSTATUSLEVEL READ OUTSTATUSLEVEL)
  Q_PROPERTY(QString OUTSTATUSMEMO READ OUTSTATUSMEMO)
  Q_PROPERTY(int SCORECH READ SCORECH WRITE setSCORECH)
  Q_PROPERTY(int SCOREOPTION READ SCOREOPTION WRITE setSCOREOPTION)
  Q_PROPERTY(int STEPTIME READ STEPTIME WRITE setSTEPTIME)
  Q_PROPERTY(int STOPOPTION READ STOPOPTION WRITE setSTOPOPTION)
  Q_PROPERTY(int TIMERMIDI READ TIMERMIDI WRITE setTIMERMIDI)
  Q_PROPERTY(int TIMEROUTSTATUS READ TIMEROUTSTATUS WRITE setTIMEROUTSTATUS)
  Q_PROPERTY(int TIMERSCORE READ TIMERSCORE WRITE setTIMERSCORE)
  Q_PROPERTY(int TIMERWRD READ TIMERWRD WRITE setTIMERWRD)
  Q_PROPERTY(int TITLEVISIBLE READ TITLEVISIBLE WRITE setTITLEVISIBLE)
  Q_PROPERTY(int WINDOWSTATUS READ WINDOWSTATUS WRITE setWINDOWSTATUS)

  // The control's own members.
  Q_PROPERTY(int CAPOPTION READ CAPOPTION WRITE setCAPOPTION)
  Q_PROPERTY(TxAlignment Alignment READ Alignment WRITE setAlignment)
  Q_PROPERTY(bool AutoSize READ AutoSize WRITE setAutoSize)
  Q_PROPERTY(TxStaticBorderStyle BorderStyle READ BorderStyle WRITE setBorderStyle)
  Q_PROPERTY(QString Caption READ Caption WRITE setCaption)
  Q_PROPERTY(int Color READ Color WRITE setColor)
  Q_PROPERTY(short DragCursor READ DragCursor WRITE setDragCursor)
  Q_PROPERTY(TxDragMode DragMode READ DragMode WRITE setDragMode)
  Q_PROPERTY(bool Enabled READ Enabled WRITE putEnabled)
  Q_PROPERTY(QFont Font READ Font WRITE putFont)
  Q_PROPERTY(bool ParentColor READ ParentColor WRITE setParentColor)
  Q_PROPERTY(bool ShowAccelChar READ ShowAccelChar WRITE setShowAccelChar)
  Q_PROPERTY(bool Visible READ Visible WRITE putVisible)
  Q_PROPERTY(short Cursor READ Cursor WRITE putCursor)

 public:
  enum TxAlignment { taLeftJustify = 0, taRightJustify = 1, taCenter = 2 };
  Q_ENUM(TxAlignment)
  enum TxStaticBorderStyle { sbsNone = 0, sbsSingle = 1, sbsSunken = 2 };
  Q_ENUM(TxStaticBorderStyle)
  enum TxDragMode { dmManual = 0, dmAutomatic = 1 };
  Q_ENUM(TxDragMode)
  enum TxMouseButton { mbLeft = 0, mbRight = 1, mbMiddle = 2 };
  Q_ENUM(TxMouseButton)

  explicit TQMIDICTLX(QWidget* parent = nullptr);
  // Releases the engine object and the status sink; playback goes on.
  ~TQMIDICTLX() override;

  // Engine methods. Each first lets the application handle its pending
  // events, then calls the engine; a failure is swallowed.
  Q_INVOKABLE void ALLCLOSE();  // STOP, then no more status reports for anyone
  Q_INVOKABLE void DEVICESET();
  Q_INVOKABLE void OPTIONSET();
  Q_INVOKABLE void PAUSE();
  Q_INVOKABLE void PLAY();  // makes this control's sink the engine's, then PLAY
  Q_INVOKABLE void RESTART();
  Q_INVOKABLE void STATUS();
  Q_INVOKABLE void STEP();
  Q_INVOKABLE void STOP();
  // Moves the song this control plays to ms (kept within the song); the
  // result code, as ERRORCODE says it, is left there.
  Q_INVOKABLE void SEEK(int ms);
  // The engine's song: where it stands and how long it is, in ms (0 when
  // the engine cannot be reached or plays nothing).
  int POSITION() const;
  int LENGTH() const;

  int DEVICEID1A() const;
  void setDEVICEID1A(int value);
  int DEVICEID1B() const;
  void setDEVICEID1B(int value);
  int DEVICEID2A() const;
  void setDEVICEID2A(int value);
  int DEVICEID2B() const;
  void setDEVICEID2B(int value);
  int ERRORCODE() const;
  QString MIDIFILENAME() const;
  void setMIDIFILENAME(const QString& value);
  int RESETMODE() const;
  void setRESETMODE(int value);
  int SCOREHEIGHT() const;
  void setSCOREHEIGHT(int value);
  int SCORELEFT() const;
  void setSCORELEFT(int value);
  int SCORETOP() const;
  void setSCORETOP(int value);
  bool SCOREVISIBLE() const;
  void setSCOREVISIBLE(bool value);
  int SCOREWIDTH() const;
  void setSCOREWIDTH(int value);
  int SPEED() const;
  void setSPEED(int value);
  int STATUSCODE() const;
  int WRDDELAY() const;
  void setWRDDELAY(int value);
  bool WRDFULLSCREEN() const;
  void setWRDFULLSCREEN(bool value);
  int WRDLEFT() const;
  void setWRDLEFT(int value);
  int WRDTOP() const;
  void setWRDTOP(int value);
  bool WRDVISIBLE() const;
  void setWRDVISIBLE(bool value);
  int DEVBALANCE() const;
  void setDEVBALANCE(int value);
  int DEVVOLUME() const;
  void setDEVVOLUME(int value);
  int EXTOPTION1() const;
  void setEXTOPTION1(int value);
  int EXTOPTION2() const;
  void setEXTOPTION2(int value);
  int EXTOPTION3() const;
  void setEXTOPTION3(int value);
  int EXTOPTION4() const;
  void setEXTOPTION4(int value);
  int MIDICURRENTTIME1() const;
  void setMIDICURRENTTIME1(int value);
  int MIDICURRENTTIME2() const;
  void setMIDICURRENTTIME2(int value);
  int MIDIDISABLE() const;
  void setMIDIDISABLE(int value);
  QString MIDIMEMO() const;
  void setMIDIMEMO(const QString& value);
  int MIDITIMEOPTION1() const;
  void setMIDITIMEOPTION1(int value);
  int MIDITIMEOPTION2() const;
  void setMIDITIMEOPTION2(int value);
  QString MIDITITLE() const;
  void setMIDITITLE(const QString& value);
  int MIDITOTALTIME1() const;
  int MIDITOTALTIME2() const;
  int OUTSTATUSBNK() const;
  int OUTSTATUSCH() const;
  void setOUTSTATUSCH(int value);
  bool OUTSTATUSENABLE() const;
  void setOUTSTATUSENABLE(bool value);
  int OUTSTATUSID() const;
  int OUTSTATUSLEVEL() const;
  QString OUTSTATUSMEMO() const;
  int SCORECH() const;
  void setSCORECH(int value);
  int SCOREOPTION() const;
  void setSCOREOPTION(int value);
  int STEPTIME() const;
  void setSTEPTIME(int value);
  int STOPOPTION() const;
  void setSTOPOPTION(int value);
  int TIMERMIDI() const;
  void setTIMERMIDI(int value);
  int TIMEROUTSTATUS() const;
  void setTIMEROUTSTATUS(int value);
  int TIMERSCORE() const;
  void setTIMERSCORE(int value);
  int TIMERWRD() const;
  void setTIMERWRD(int value);
  int TITLEVISIBLE() const;
  void setTITLEVISIBLE(int value);
  int WINDOWSTATUS() const;
  void setWINDOWSTATUS(int value);

  int CAPOPTION() const;
  void setCAPOPTION(int value);
  TxAlignment Alignment() const;
  void setAlignment(TxAlignment value);
  bool AutoSize() const;
  void setAutoSize(bool value);
  TxStaticBorderStyle BorderStyle() const;
  void setBorderStyle(TxStaticBorderStyle value);
  QString Caption() const;
  void setCaption(const QString& value);
  // OLE colour: 0x00BBGGRR, or a system colour (0x800000nn).
  int Color() const;
  void setColor(int value);
  short DragCursor() const;
  void setDragCursor(short value);
  TxDragMode DragMode() const;
  void setDragMode(TxDragMode value);
  bool Enabled() const;
  void putEnabled(bool value);
  QFont Font() const;
  void putFont(const QFont& value);
  bool ParentColor() const;
  void setParentColor(bool value);
  bool ShowAccelChar() const;
  void setShowAccelChar(bool value);
  // The control's own Visible flag; a get applies it to the label again.
  bool Visible();
  void putVisible(bool value);
  // Cursor codes of the original toolkit (0 default, -2 arrow, -4 I-beam,
  // -11 hourglass, -21 hand, ...), shown as the nearest Qt cursor.
  short Cursor() const;
  void putCursor(short value);

  // The engine object's creation failed: -999, else 0.
  int engineError() const;
  // The sink this control last handed to the engine (empty: none).
  bool hasStatusSink() const;

 signals:
  void OnClick();
  void OnDblClick();  // declared for containers that expect it; never emitted
  void OnStatus(int Value1, int Value2, int Value3, int Value4);

 protected:
  void connectNotify(const QMetaMethod& signal) override;
  void disconnectNotify(const QMetaMethod& signal) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  std::unique_ptr<TQMIDICTL> inner_;
  bool visible_ = true;
};
