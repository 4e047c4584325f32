// The script module "_IPY_SSLogicProcess": the IPY_SSLogicProcess class with
// SendPack, and vectors of int and double for scripts that want them.
%module IPY_SSLogicProcess

%begin %{
// Python 3: char* arguments are bytes objects; a str cannot carry the
// binary head of a packet.
#define SWIG_PYTHON_STRICT_BYTE_CHAR
%}

%{
#include "SSLogicProcess/IPY_SSLogicProcess.h"
%}

%include "std_vector.i"
%template(IntVector) std::vector<int>;
%template(DoubleVector) std::vector<double>;

// SendPack's buffers keep their size, so that a length larger than its
// bytes object is refused instead of read past. SWIG names a typemap's
// locals after their argument's position: the head is argument 2 (size2),
// the content argument 4 (size4); the size counts the terminating NUL.
%typemap(in, noblock=1) char* head (int res, char* buf = 0, size_t size = 0, int alloc = 0),
                        char* content (int res, char* buf = 0, size_t size = 0, int alloc = 0) {
  res = SWIG_AsCharPtrAndSize($input, &buf, &size, &alloc);
  if (!SWIG_IsOK(res)) {
    SWIG_exception_fail(SWIG_ArgError(res), "in method '" "$symname" "', argument " "$argnum"" of type '" "$1_type""'");
  }
  $1 = buf;
}
%typemap(freearg, noblock=1) char* head, char* content {
  if (alloc$argnum == SWIG_NEWOBJ) delete[] buf$argnum;
}
%typemap(check, noblock=1) int headLength {
  if (arg2 != 0 && $1 > 0 && static_cast<size_t>($1) > size2 - 1) {
    SWIG_exception_fail(SWIG_ValueError, "in method '" "$symname" "', argument " "$argnum"" (headLength) is larger than argument 2 (head)");
  }
}
%typemap(check, noblock=1) int contentLength {
  if (arg4 != 0 && $1 > 0 && static_cast<size_t>($1) > size4 - 1) {
    SWIG_exception_fail(SWIG_ValueError, "in method '" "$symname" "', argument " "$argnum"" (contentLength) is larger than argument 4 (content)");
  }
}

%include "SSLogicProcess/IPY_SSLogicProcess.h"
