#include "SSLogicProcess/IPY_SSLogicProcess.h"

#include "SSLogicProcess/SSLogicProcess.h"

int IPY_SSLogicProcess::SendPack(char* head, int headLength, char* content, int contentLength) {
    if (!IsSSNetCoreLoaded()) return 0;
    CSSLogicProcess* link = CSSLogicProcess::GetInstance();
    return link != nullptr ? link->SendPack(head, headLength, content, contentLength) : 0;
}
