#pragma once

#include "python/py_ref.hpp"

#include <structmember.h>

#include <utility>

namespace tsr {

// Layout of both Python types: the object header and the handle of the
// library object, null until construction succeeds.
struct HandleObject {
    PyObject_HEAD void* handle;
};

inline void*& handleOf(PyObject* self) {
    return reinterpret_cast<HandleObject*>(self)->handle;
}

// The static type objects.
PyTypeObject* yieldCurveType();
PyTypeObject* interestRateSwapType();

// Fill in the slots of the type objects; the module then readies them.
void fillYieldCurveType();
void fillInterestRateSwapType();

// A type object with the standard object header and every slot empty.
inline PyTypeObject emptyTypeObject() {
    PyTypeObject type{};
    const PyVarObject header[] = {PyVarObject_HEAD_INIT(nullptr, 0)};
    type.ob_base = header[0];
    return type;
}

// Shared slot: allocation with a null handle.
PyObject* newHandleObject(PyTypeObject* type, PyObject* args, PyObject* kwds);

// tp_init of both types: one positional dict, parsed as "O!" against dict. A
// second __init__ replaces the library object; the old entry goes either way.
template <void* (*build)(PyObject*, int*), void (*drop)(void*)>
int initHandleObject(PyObject* self, PyObject* args, PyObject* /*kwds*/) {
    PyObject* dict = nullptr;
    if (PyArg_ParseTuple(args, "O!", &PyDict_Type, &dict) == 0) {
        return -1;
    }
    int status = 0;
    void* handle = build(dict, &status);
    drop(std::exchange(handleOf(self), handle));
    return status;
}

// tp_dealloc of both types: drop the registry entry, then free the object.
template <void (*drop)(void*)> void deallocHandleObject(PyObject* self) {
    drop(std::exchange(handleOf(self), nullptr));
    Py_TYPE(self)->tp_free(self);
}

// The slots both types set: a handle-object layout with these functions and
// tables, allocated by newHandleObject, no flags beyond the default.
inline void fillHandleType(PyTypeObject& type, const char* name, destructor dealloc, reprfunc repr,
                           PyMethodDef* methods, PyMemberDef* members, initproc init) {
    type.tp_name = name;
    type.tp_basicsize = sizeof(HandleObject);
    type.tp_itemsize = 0;
    type.tp_dealloc = dealloc;
    type.tp_repr = repr;
    type.tp_flags = Py_TPFLAGS_DEFAULT;
    type.tp_methods = methods;
    type.tp_members = members;
    type.tp_init = init;
    type.tp_new = newHandleObject;
}

// Casts a method implementation to the table's function type.
template <class F> PyCFunction methodFunction(F* function) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

} // namespace tsr
