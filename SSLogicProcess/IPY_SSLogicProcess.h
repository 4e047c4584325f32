// IPY_SSLogicProcess: what the script module "_IPY_SSLogicProcess" offers
// scripts, their one way back to the StatusServer. The object has no state:
// every one forwards to the process's one CSSLogicProcess. Runs on the
// thread that runs the script.
#pragma once

class IPY_SSLogicProcess {
public:
    // Sends head and content as one packet: the link's SendPack result, 0
    // without a status link (nothing logged) or for a null or empty argument
    // (logged by SendPack).
    int SendPack(char* head, int headLength, char* content, int contentLength);
};
