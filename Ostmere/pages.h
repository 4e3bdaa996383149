// The six operation pages. Controls are public so that the window and the tests can reach
// them; the comments give each control's field name in the history store.
#pragma once

#include "pagebase.h"

#include <QCheckBox>
#include <QLineEdit>

// Operation numbers, by which the window starts a run and finds its page.
enum Operation {
    opCreatePatch = 0,
    opCreatePatchVault = 1,
    opApplyPatch = 2,
    opQuerryPatch = 3,
    opCreateVault = 4,
    opFingerprint = 5,
    operationCount = 6
};

class CDlgCrPatch : public PageBase {
    Q_OBJECT
  public:
    explicit CDlgCrPatch(QWidget* parent = nullptr);
    void forEachItem(CDlgItemsItSink& visitor) override;
    EngineJob prepare(const EngineCalls& calls) override;
    std::u16string outputFile() const override { return text(patchFile); }

    QComboBox* olderDir; // olddir
    QPushButton* olderBrowse;
    QComboBox* newerDir; // newdir
    QPushButton* newerBrowse;
    QComboBox* patchFile; // patch
    QPushButton* patchBrowse;
    QComboBox* reportFile; // report
    QPushButton* reportBrowse;
    QComboBox* filter; // filter
    QPushButton* viewReport;
    QPushButton* createPatch;
};

class CDlgCrVaultPatch : public PageBase {
    Q_OBJECT
  public:
    explicit CDlgCrVaultPatch(QWidget* parent = nullptr);
    void forEachItem(CDlgItemsItSink& visitor) override;
    EngineJob prepare(const EngineCalls& calls) override;
    std::u16string outputFile() const override { return text(patchFile); }

    QComboBox* directory; // dir
    QPushButton* directoryBrowse;
    QComboBox* vaultFile; // vault
    QPushButton* vaultBrowse;
    QComboBox* patchFile; // patch
    QPushButton* patchBrowse;
    QComboBox* reportFile; // report
    QPushButton* reportBrowse;
    QCheckBox* updateVault; // updateVault
    QPushButton* viewReport;
    QPushButton* createPatch;
};

class CDlgCrValut : public PageBase {
    Q_OBJECT
  public:
    explicit CDlgCrValut(QWidget* parent = nullptr);
    void forEachItem(CDlgItemsItSink& visitor) override;
    EngineJob prepare(const EngineCalls& calls) override;

    QComboBox* directory; // dir
    QPushButton* directoryBrowse;
    QComboBox* vaultFile; // vault
    QPushButton* vaultBrowse;
    QComboBox* filter; // filter
    QPushButton* createVault;
};

class CDlgApply : public PageBase {
    Q_OBJECT
  public:
    explicit CDlgApply(QWidget* parent = nullptr);
    void forEachItem(CDlgItemsItSink& visitor) override;
    EngineJob prepare(const EngineCalls& calls) override;

    QComboBox* directory; // dir
    QPushButton* directoryBrowse;
    QComboBox* patchFile; // patch
    QPushButton* patchBrowse;
    QComboBox* reportFile; // report
    QPushButton* reportBrowse;
    QCheckBox* ignoreFingerprint; // fpignore
    QCheckBox* continueOnErrors;  // fsignore
    QPushButton* viewReport;
    QPushButton* applyPatch;
};

class CDlgPatchInfo : public PageBase {
    Q_OBJECT
  public:
    explicit CDlgPatchInfo(QWidget* parent = nullptr);
    void forEachItem(CDlgItemsItSink& visitor) override;
    EngineJob prepare(const EngineCalls& calls) override;

    QComboBox* patchFile; // patch
    QPushButton* patchBrowse;
    QComboBox* reportFile; // report
    QPushButton* reportBrowse;
    QPushButton* viewReport;
    QPushButton* querryPatch;
};

class CDlgFinger : public PageBase {
    Q_OBJECT
  public:
    explicit CDlgFinger(QWidget* parent = nullptr);
    void forEachItem(CDlgItemsItSink& visitor) override;
    EngineJob prepare(const EngineCalls& calls) override;

    QComboBox* directory; // dir
    QPushButton* directoryBrowse;
    QComboBox* filter; // filter
    QLineEdit* result; // never visited: neither disabled nor stored
    QPushButton* fingerprint;
};
