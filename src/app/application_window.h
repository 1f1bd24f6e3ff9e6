// The application object: the start-up sequence and the main window's life.
#pragma once

#include <memory>
#include <string>

namespace torvane {

class CSalvoraDlg;

class CSalvoraApp {
public:
    CSalvoraApp();
    ~CSalvoraApp();

    // The start-up sequence, run once the QApplication exists (it has taken
    // its own options out of argv): the edition's shared fonts and colours,
    // the scan-log file type, the device options and the scan-log path of the
    // command line, the signature data files, then the main window (whose
    // initialisation opens a scan log given on the command line).
    // Returns -1 when the program goes on to its event loop, else the exit
    // code to end with (a signature data file that cannot be opened: 1).
    int InitInstance(int argc, char** argv);

    CSalvoraDlg* MainWindow() const { return m_pMainWnd.get(); }

    // Where the signature data files were found ("" before InitInstance).
    const std::string& SignatureFolder() const { return m_signatureFolder; }

private:
    std::unique_ptr<CSalvoraDlg> m_pMainWnd;
    std::string m_signatureFolder;
};

// The program-wide application object (null outside main()).
CSalvoraApp* AppObjectPtr();

}  // namespace torvane
