#pragma once

// A failure of the HTTP routines, carrying the result code they report.
class CHttpAgentException final {
public:
    // The result codes of HttpGetText and HttpDownloadFile.
    enum Code : int {
        Success = 0,
        BadAddress = 2,      // not parsable, or neither http nor https
        NotAuthorised = 3,   // 401, and the user gave no credentials to try again
        CannotOpen = 6,      // the address could not be opened
        NoContentLength = 7, // the response gives no length
        NetworkFailure = 8,  // connecting, sending or reading failed
        FileFailure = 9,     // the output file could not be created or written
    };

    explicit CHttpAgentException(int error = 0) : m_nError(error) {}

    int m_nError = 0;
};
