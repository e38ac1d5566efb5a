// The Python module's entry to the converter: the program's own scanner, conversion and CSV writer
// behind one conversion object, fed from an open file, bytes in memory or a Python file object.
// The GIL is released while the core converts a piece; it is taken again only to call the file
// object, to grow the bytes of a table, and to make the Python objects of each batch of rows.
// orbitcsv/__init__.py opens files, words the errors and puts together the four calls.
#include "byte_io.hpp"
#include "element_block.hpp"
#include "labeled_elements.hpp"
#include "messages.hpp"
#include "orbit_record.hpp"
#include "platform.hpp"
#include "module_memory.hpp"
#include "record_values.hpp"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace py = pybind11;

namespace orbitcsv::python {

namespace {

// Reading or writing through the platform failed, for the system's reason (an errno value, or 0
// where there is none); the module's Python code words the error and names the file.
struct read_failure {
    int error_number;
};
struct write_failure {
    int error_number;
};

// The module's ReadFailure and WriteFailure, made when it is imported.
struct {
    py::handle read, write;
} failure_types;

// A Python error raised while the core ran (by a file object, or for want of memory), kept until
// the core has returned, so that it never unwinds through the core.
class pending_error {
public:
    // What raised it: the input's file object, the output's, or a signal handler.
    enum class side { reading, writing, neither };
    // With the GIL held, and a Python error set.
    void keep(side where) {
        if (error_) return;
        error_.emplace();
        side_ = where;
    }
    bool any() const { return error_.has_value(); }
    // Raises the kept error. This is where a failure is told to be the input's or the output's:
    // an OSError of a file object becomes a ReadFailure or WriteFailure with its errno and
    // strerror, caused by it; anything else (a signal handler's error, a MemoryError) is raised
    // as it is.
    void raise() {
        if (!error_) return;
        py::error_already_set error = std::move(*error_);
        error_.reset();
        if (side_ == side::neither || !error.matches(PyExc_OSError)) throw error;
        const py::handle kind = side_ == side::reading ? failure_types.read : failure_types.write;
        py::object original = error.value();
        if (error.trace()) PyException_SetTraceback(original.ptr(), error.trace().ptr());
        const py::object failure = kind(original.attr("errno"), original.attr("strerror"));
        PyException_SetCause(failure.ptr(), original.release().ptr());
        PyErr_SetObject(kind.ptr(), failure.ptr());
        throw py::error_already_set();
    }

private:
    std::optional<py::error_already_set> error_;
    side side_ = side::neither;
};

// The interpreter runs its signal handlers (Ctrl-C's KeyboardInterrupt among them) only between
// bytecodes, and none run while the core converts: the core gives them their turn between the
// pieces it reads. Taking the GIL for that could keep a conversion waiting on another busy thread
// for each piece, so the turns come every SIGNAL_INTERVAL, or at once after a read that a signal
// interrupted; an error a handler raises stops the conversion and is raised when it returns.
class signal_turns {
public:
    static constexpr std::chrono::milliseconds SIGNAL_INTERVAL{20};

    // With the GIL let go: whether a handler raised an error (kept in `errors`).
    bool raised(pending_error& errors, bool at_once = false) {
        const auto now = std::chrono::steady_clock::now();
        if (!at_once && now < next_turn_) return false;
        next_turn_ = now + SIGNAL_INTERVAL;
        py::gil_scoped_acquire gil;
        return raised_holding_gil(errors);
    }
    // The same with the GIL held, where the turn costs nothing.
    static bool raised_holding_gil(pending_error& errors) {
        if (PyErr_CheckSignals() == 0) return false;
        errors.keep(pending_error::side::neither);
        return true;
    }

private:
    std::chrono::steady_clock::time_point next_turn_{};
};

// A file descriptor, or on Windows a HANDLE, as Python gives it.
template <class File = platform::file>
File file_from_handle(std::intptr_t handle) {
    if constexpr (std::is_pointer_v<File>) {
        return reinterpret_cast<File>(handle);
    } else {
        return static_cast<File>(handle);
    }
}

// An open file read through the platform, the GIL let go; signal handlers get their turn
// between reads, and at once after a read that a signal interrupted.
class handle_source final : public byte_source {
public:
    handle_source(pending_error& errors, signal_turns& signals) : errors_(errors), signals_(signals) {}
    void open(std::intptr_t handle) { file_ = file_from_handle(handle); }

    std::ptrdiff_t read_some(char* into, std::size_t capacity) override {
        for (bool interrupted = false;; interrupted = true) {
            if (signals_.raised(errors_, interrupted)) return READ_FAILED;
            const std::ptrdiff_t got = platform::read_some(file_, into, capacity, true);
            if (got == platform::READ_INTERRUPTED) continue;
            if (got >= 0) return got;
            error_number_ = platform::last_error();
            return READ_FAILED;
        }
    }

    // The system's reason for the latest failed read, as an errno value.
    int error_number() const { return error_number_; }

private:
    pending_error& errors_;
    signal_turns& signals_;
    platform::file file_{};
    int error_number_ = 0;
};

// Bytes that stay as they are while they are read: the buffer is held until release().
class buffer_source final : public byte_source {
public:
    buffer_source(pending_error& errors, signal_turns& signals) : errors_(errors), signals_(signals) {}
    void open(const py::object& data) {
        if (PyObject_GetBuffer(data.ptr(), &buffer_, PyBUF_SIMPLE) != 0) throw py::error_already_set();
        holding_buffer_ = true;
        memory_ = {static_cast<const char*>(buffer_.buf), static_cast<std::size_t>(buffer_.len)};
    }

    std::ptrdiff_t read_some(char* into, std::size_t capacity) override {
        if (signals_.raised(errors_)) return READ_FAILED;
        const std::size_t count = std::min(capacity, memory_.size());
        std::memcpy(into, memory_.data(), count);
        memory_.remove_prefix(count);
        return static_cast<std::ptrdiff_t>(count);
    }

    // With the GIL held.
    void release() {
        if (holding_buffer_) PyBuffer_Release(&buffer_);
        holding_buffer_ = false;
        memory_ = {};
    }

private:
    pending_error& errors_;
    signal_turns& signals_;
    Py_buffer buffer_{};
    bool holding_buffer_ = false;
    std::string_view memory_;
};

// A Python file object read through its readinto (or read), with the GIL taken for each call.
class file_object_source final : public byte_source {
public:
    explicit file_object_source(pending_error& errors) : errors_(errors) {}
    // Its readinto, or failing that its read.
    void open(const py::object& readinto, const py::object& read) {
        if (!readinto.is_none()) readinto_ = readinto;
        if (!read.is_none()) read_ = read;
    }

    std::ptrdiff_t read_some(char* into, std::size_t capacity) override {
        py::gil_scoped_acquire gil;
        try {
            const std::ptrdiff_t got = readinto_ ? read_into(into, capacity) : read_copy(into, capacity);
            return signal_turns::raised_holding_gil(errors_) ? READ_FAILED : got;
        } catch (py::error_already_set& error) {
            error.restore();
            errors_.keep(pending_error::side::reading);
            return READ_FAILED;
        }
    }

    // With the GIL held: drops the references to Python objects.
    void release() {
        readinto_ = {};
        read_ = {};
        unread_ = {};
        unread_left_ = 0;
    }

private:
    // readinto() fills the scanner's buffer itself, through a view that is let go at once, so
    // that a file object that kept it could not write into the buffer later.
    std::ptrdiff_t read_into(char* into, std::size_t capacity) {
        py::memoryview view = py::memoryview::from_memory(into, static_cast<py::ssize_t>(capacity));
        const py::object got = readinto_(view);
        view.attr("release")();
        return count_read(got, capacity);
    }

    // read() gives bytes of its own, which are copied; any it gives beyond what was asked for
    // wait for the next call.
    std::ptrdiff_t read_copy(char* into, std::size_t capacity) {
        if (unread_left_ == 0) {
            unread_ = read_(capacity);
            if (unread_.is_none()) return count_read(unread_, capacity);
            const py::buffer_info info = py::reinterpret_borrow<py::buffer>(unread_).request();
            unread_at_ = static_cast<const char*>(info.ptr);
            unread_left_ = static_cast<std::size_t>(info.size * info.itemsize);
            if (unread_left_ == 0) return READ_END;
        }
        const std::size_t count = std::min(capacity, unread_left_);
        std::memcpy(into, unread_at_, count);
        unread_at_ += count;
        unread_left_ -= count;
        return static_cast<std::ptrdiff_t>(count);
    }

    std::ptrdiff_t count_read(const py::object& got, std::size_t capacity) {
        if (got.is_none()) {
            // A non-blocking file with nothing ready: there is no waiting for it here.
            PyErr_SetString(PyExc_BlockingIOError, "the file object has no bytes ready (it is non-blocking)");
            throw py::error_already_set();
        }
        const auto count = got.cast<std::ptrdiff_t>();
        if (count < 0 || static_cast<std::size_t>(count) > capacity) {
            PyErr_SetString(PyExc_ValueError, "readinto() gave a count outside the buffer");
            throw py::error_already_set();
        }
        return count == 0 ? READ_END : count;
    }

    pending_error& errors_;
    py::object readinto_;
    py::object read_;
    py::object unread_;
    const char* unread_at_ = nullptr;
    std::size_t unread_left_ = 0;
};

// The input, whichever kind it is: what the scanner reads from.
class python_source final : public byte_source {
public:
    explicit python_source(pending_error& errors) : handle_(errors, signals_), buffer_(errors, signals_), file_object_(errors) {}

    void from_handle(std::intptr_t handle) {
        handle_.open(handle);
        chosen_ = &handle_;
    }
    void from_buffer(const py::object& data) {
        buffer_.open(data);
        chosen_ = &buffer_;
    }
    void from_reader(const py::object& readinto, const py::object& read) {
        file_object_.open(readinto, read);
        chosen_ = &file_object_;
    }

    std::ptrdiff_t read_some(char* into, std::size_t capacity) override { return chosen_->read_some(into, capacity); }

    // The system's reason for the latest failed read of an open file, as an errno value.
    int error_number() const { return handle_.error_number(); }

    // With the GIL held: lets go of what Python lent.
    void release() {
        buffer_.release();
        file_object_.release();
    }

private:
    signal_turns signals_;
    handle_source handle_;
    buffer_source buffer_;
    file_object_source file_object_;
    byte_source* chosen_ = &buffer_;
};

// The table as one bytes object, grown as it is written (a large one by remapping its memory,
// without a copy); the GIL is taken only to grow it.
class bytes_sink final : public byte_sink {
public:
    explicit bytes_sink(pending_error& errors) : errors_(errors) {
        bytes_ = PyBytes_FromStringAndSize(nullptr, FIRST_CAPACITY);
        if (bytes_ == nullptr) throw py::error_already_set();
        capacity_ = FIRST_CAPACITY;
    }
    ~bytes_sink() { Py_XDECREF(bytes_); }
    bytes_sink(const bytes_sink&) = delete;
    bytes_sink& operator=(const bytes_sink&) = delete;

    bool write_all(std::string_view bytes) override {
        if (bytes_ == nullptr) return false;
        if (capacity_ - used_ < bytes.size()) {
            py::gil_scoped_acquire gil;
            const std::size_t capacity = std::max(2 * capacity_, used_ + bytes.size());
            if (_PyBytes_Resize(&bytes_, static_cast<Py_ssize_t>(capacity)) != 0) {
                errors_.keep(pending_error::side::writing);
                return false;
            }
            capacity_ = capacity;
        }
        std::memcpy(PyBytes_AS_STRING(bytes_) + used_, bytes.data(), bytes.size());
        used_ += bytes.size();
        return true;
    }

    // With the GIL held, once the table is whole.
    py::bytes take() {
        if (_PyBytes_Resize(&bytes_, static_cast<Py_ssize_t>(used_)) != 0) throw py::error_already_set();
        return py::reinterpret_steal<py::bytes>(std::exchange(bytes_, nullptr));
    }

private:
    static constexpr std::size_t FIRST_CAPACITY = 1 << 16;
    pending_error& errors_;
    PyObject* bytes_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t used_ = 0;
};

// The table through a Python file object's write(), with the GIL taken for each call. It is given
// bytes of their own, which it may keep.
class writer_sink final : public byte_sink {
public:
    writer_sink(py::object write, pending_error& errors) : write_(std::move(write)), errors_(errors) {}

    bool write_all(std::string_view bytes) override {
        py::gil_scoped_acquire gil;
        try {
            while (!bytes.empty()) {
                const py::object put = write_(py::bytes(bytes.data(), bytes.size()));
                // A count of fewer bytes (a raw file) asks for the rest to be written again; a
                // writer that answers anything else has taken them all.
                if (!PyLong_Check(put.ptr())) break;
                const auto count = put.cast<std::ptrdiff_t>();
                if (count <= 0 || static_cast<std::size_t>(count) > bytes.size()) {
                    PyErr_SetString(PyExc_OSError, "write() took none of the bytes");
                    throw py::error_already_set();
                }
                bytes.remove_prefix(static_cast<std::size_t>(count));
            }
            return !signal_turns::raised_holding_gil(errors_);
        } catch (py::error_already_set& error) {
            error.restore();
            errors_.keep(pending_error::side::writing);
            return false;
        }
    }

private:
    py::object write_;
    pending_error& errors_;
};

// The table to an open file, keeping the system's reason when writing fails.
class handle_sink final : public byte_sink {
public:
    explicit handle_sink(platform::file to) : to_(to) {}

    bool write_all(std::string_view bytes) override {
        if (platform::write_all(to_, bytes)) return true;
        error_number_ = platform::last_error();
        return false;
    }
    int error_number() const { return error_number_; }

private:
    platform::file to_;
    int error_number_ = 0;
};

// Fixed-size storage for a batch of texts made while the GIL is let go, turned into Python
// objects once it is taken again.
class text_batch {
public:
    explicit text_batch(std::size_t capacity) : bytes_(new char[capacity]), capacity_(capacity) {}

    bool has_room(std::size_t bytes) const { return capacity_ - used_ >= bytes; }
    // Stores the text; returns where it starts.
    std::size_t add(std::string_view text) {
        const std::size_t at = used_;
        std::memcpy(bytes_.get() + at, text.data(), text.size());
        used_ += text.size();
        return at;
    }
    std::string_view text(std::size_t at, std::size_t length) const { return {bytes_.get() + at, length}; }
    std::size_t used() const { return used_; }
    void clear() { used_ = 0; }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t capacity_;
    std::size_t used_ = 0;
};

// A new str of UTF-8 bytes; `errors` says what becomes of bytes that are not UTF-8.
PyObject* new_text(std::string_view bytes, const char* errors) {
    PyObject* const text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), errors);
    if (text == nullptr) throw py::error_already_set();
    return text;
}

// One column of the frame, `width` values a row, grown as rows come: the row count is known only
// at the end of the input. Its memory grows without a copy where the system can remap it, backed
// by large pages, and goes to numpy as it is.
template <class T, std::size_t width = 1>
class growing_column {
public:
    growing_column() = default;
    growing_column(const growing_column&) = delete;
    growing_column& operator=(const growing_column&) = delete;
    ~growing_column() {
        if (data_ != nullptr) memory::unmap_growing(data_, capacity_ * ROW_BYTES);
    }

    // The next row's place (its `width` values), with the GIL let go or held.
    T* add() {
        if (rows_ == capacity_) grow();
        return data_ + width * rows_++;
    }
    T* row(std::size_t index) { return data_ + width * index; }
    std::size_t rows() const { return rows_; }

    // With the GIL held: the column as an array of `rows` by `width` (`rows` alone for one value a
    // row) that frees the memory, calling release(values, count) first, when it goes.
    py::array take(void (*release)(T*, std::size_t) = nullptr) {
        struct owned {
            T* data;
            std::size_t rows;
            std::size_t bytes;
            void (*release)(T*, std::size_t);
        };
        if (data_ == nullptr) grow();  // an empty column is an array all the same
        auto* const held = new owned{std::exchange(data_, nullptr), std::exchange(rows_, 0), capacity_ * ROW_BYTES, release};
        capacity_ = 0;
        const py::capsule owner(held, [](void* pointer) {
            auto* const column = static_cast<owned*>(pointer);
            if (column->release != nullptr) column->release(column->data, column->rows * width);
            memory::unmap_growing(column->data, column->bytes);
            delete column;
        });
        std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(held->rows)};
        if (width > 1) shape.push_back(static_cast<py::ssize_t>(width));
        if constexpr (std::is_same_v<T, PyObject*>) {
            return py::array(py::dtype("O"), shape, {}, held->data, owner);
        } else {
            return py::array_t<T>(shape, {}, held->data, owner);
        }
    }

private:
    static constexpr std::size_t ROW_BYTES = width * sizeof(T);
    // Rows at first: a whole large page of doubles, so that small tables take little memory.
    static constexpr std::size_t FIRST_ROWS = (std::size_t{2} << 20) / ROW_BYTES;

    void grow() {
        const std::size_t capacity = std::max(2 * capacity_, FIRST_ROWS);
        T* const grown = static_cast<T*>(data_ == nullptr ? memory::map_growing(capacity * ROW_BYTES)
                                                          : memory::grow_mapping(data_, capacity_ * ROW_BYTES, capacity * ROW_BYTES));
        if (grown == nullptr) throw std::bad_alloc();
        data_ = grown;
        capacity_ = capacity;
    }

    T* data_ = nullptr;
    std::size_t rows_ = 0;
    std::size_t capacity_ = 0;
};

// While a frame's columns are made, the interpreter takes the arenas for their millions of names
// in large pages, where the system gives them: fresh memory is touched a large page at a time,
// not a small one, which on some machines is most of the cost of a name. Either way may free the
// other's arenas. Frames made in several threads at once (each lets go of the interpreter while
// it reads) share one swap, counted under the interpreter's lock: the interpreter's own way is
// back when the last of them ends, whichever order they end in.
class large_page_arenas {
public:
    large_page_arenas() {
        if (!memory::arenas_in_large_pages() || users_++ > 0) return;
        PyObject_GetArenaAllocator(&own_);
        PyObjectArenaAllocator large{nullptr, [](void*, std::size_t bytes) { return memory::map_arena(bytes); },
                                     [](void*, void* arena, std::size_t bytes) { memory::unmap_arena(arena, bytes); }};
        PyObject_SetArenaAllocator(&large);
    }
    large_page_arenas(const large_page_arenas&) = delete;
    large_page_arenas& operator=(const large_page_arenas&) = delete;
    ~large_page_arenas() {
        if (!memory::arenas_in_large_pages() || --users_ > 0) return;
        PyObject_SetArenaAllocator(&own_);
        memory::release_spare_arena();
    }

private:
    static inline std::size_t users_ = 0;
    static inline PyObjectArenaAllocator own_{};
};

// The references an array of objects holds, let go with it.
void release_objects(PyObject** objects, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) Py_XDECREF(objects[k]);
}

// Every column of the frame. The values of a row lie side by side, as in a frame made from a
// two-dimensional array, which is what pandas makes of them, without a copy.
struct frame_columns {
    growing_column<std::int64_t> lines;
    growing_column<double, ELEMENT_COUNT> values;
    growing_column<std::int64_t> numbers;
    growing_column<bool> number_missing;
    growing_column<std::uint8_t> centers;
    growing_column<PyObject*> names;
    growing_column<PyObject*> designations;
    growing_column<PyObject*> notes;

    ~frame_columns() {
        // The objects of a conversion that failed; taken columns are empty.
        for (growing_column<PyObject*>* texts : {&names, &designations, &notes}) release_objects(texts->row(0), texts->rows());
    }

    // With the GIL held: (lines; values, rows by twelve; numbers; which numbers are missing;
    // centers, as indices into CENTER_NAMES; names; designations; notes).
    py::tuple take() {
        return py::make_tuple(lines.take(), values.take(), numbers.take(), number_missing.take(), centers.take(),
                              names.take(release_objects), designations.take(release_objects), notes.take(release_objects));
    }
};

constexpr std::size_t OUTPUT_BUFFER_BYTES = 256 * 1024;
constexpr std::size_t RECORD_FIELDS = 2 + VALUE_COUNT;
// Rows converted with the GIL let go, between the times it is taken to make their objects.
constexpr std::size_t BATCH_ROWS = 4096;
constexpr std::size_t NAME_BYTES = LINE_CAPACITY;
constexpr std::size_t NOTE_BATCH_BYTES = 64 * 1024;
constexpr std::size_t TEXTS_PER_ROW = 3;  // name, designation, note

// One conversion of one input, front to back, in one of three ways: the table, the records, or
// the frame's columns.
class conversion {
public:
    conversion() : source_(errors_), input_(new char[DEFAULT_READ_BUFFER_BYTES + LINE_SLACK]), scanner_(source_, {input_.get(), DEFAULT_READ_BUFFER_BYTES + LINE_SLACK}) {}
    conversion(const conversion&) = delete;
    conversion& operator=(const conversion&) = delete;
    ~conversion() {
        source_.release();
    }

    python_source& source() { return source_; }
    // The whole table, or with `elements` the elements table, as bytes (target None), to an open
    // file (an int handle) or through a write function; returns the bytes, or the number of rows.
    py::object table(const py::object& target, bool elements) {
        std::unique_ptr<char[]> storage(new char[OUTPUT_BUFFER_BYTES]);
        if (elements) scanner_.keep_places();
        if (target.is_none()) {
            bytes_sink sink(errors_);
            if (!write_table(sink, storage.get(), elements)) throw write_failure{0};
            return sink.take();
        }
        if (PyLong_Check(target.ptr())) {
            handle_sink sink(file_from_handle(target.cast<std::intptr_t>()));
            const std::optional<std::int64_t> rows = write_table(sink, storage.get(), elements);
            if (!rows) throw write_failure{sink.error_number()};
            return py::int_(*rows);
        }
        writer_sink sink(target, errors_);
        const std::optional<std::int64_t> rows = write_table(sink, storage.get(), elements);
        if (!rows) throw write_failure{0};
        return py::int_(*rows);
    }

    // Up to `count` records, each made an instance of `record_type` (a tuple type of eleven
    // fields) from the record's texts, bytes that are not UTF-8 kept by surrogateescape; an empty
    // list at the end of the input.
    py::list records(std::size_t count, const py::object& record_type) {
        count = std::min(count, BATCH_ROWS);
        if (!record_texts_) {
            record_texts_ = std::make_unique<text_batch>(BATCH_ROWS * (2 * NAME_BYTES + VALUE_COUNT * LONGEST_VALUE));
            record_lengths_.reset(new std::size_t[BATCH_ROWS * RECORD_FIELDS]);
        }
        record_texts_->clear();
        bool ended = false;
        const std::size_t found = read_batch(count, [] { return true; }, ended, [&](std::size_t row) {
            convert_block(block_, record_);
            std::size_t* lengths = record_lengths_.get() + row * RECORD_FIELDS;
            const auto keep = [&](std::string_view text) {
                record_texts_->add(text);
                *lengths++ = text.size();
            };
            keep(record_.name.view());
            keep(record_.number.view());
            for (const auto field : VALUE_FIELDS) keep((record_.*field).view());
        });
        if (ended) raise_if_read_failed();
        auto* const type = reinterpret_cast<PyTypeObject*>(record_type.ptr());
        py::list made(found);
        std::size_t at = 0;
        for (std::size_t k = 0; k < found; ++k) {
            PyObject* const record = type->tp_alloc(type, RECORD_FIELDS);
            if (record == nullptr) throw py::error_already_set();
            made[k] = py::reinterpret_steal<py::object>(record);
            const std::size_t* lengths = record_lengths_.get() + k * RECORD_FIELDS;
            for (std::size_t field = 0; field < RECORD_FIELDS; ++field) {
                PyTuple_SET_ITEM(record, static_cast<Py_ssize_t>(field),
                                 new_text(record_texts_->text(at, lengths[field]), "surrogateescape"));
                at += lengths[field];
            }
        }
        return made;
    }

    // Every row's columns for the frame, read by the labels: see frame_columns::take.
    py::tuple columns() {
        const large_page_arenas arenas;
        scanner_.keep_places();
        frame_columns columns;
        // A batch's texts, each a name, a designation or a note, and where each starts and ends.
        text_batch texts(BATCH_ROWS * 2 * NAME_BYTES + NOTE_BATCH_BYTES);
        std::unique_ptr<std::size_t[]> text_ends(new std::size_t[BATCH_ROWS * TEXTS_PER_ROW]);
        const py::str no_note("");
        for (bool ended = false; !ended;) {
            texts.clear();
            const auto room = [&] { return texts.has_room(2 * NAME_BYTES + NOTE_CAPACITY); };
            const std::size_t batch = read_batch(BATCH_ROWS, room, ended, [&](std::size_t row) {
                reader_.read(lines_of_block(scanner_, block_), elements_);
                *columns.lines.add() = static_cast<std::int64_t>(elements_.line);
                std::copy(std::begin(elements_.values), std::end(elements_.values), columns.values.add());
                *columns.numbers.add() = elements_.has_number ? elements_.number : 0;
                *columns.number_missing.add() = !elements_.has_number;
                *columns.centers.add() = static_cast<std::uint8_t>(elements_.center);
                std::size_t* const ends = text_ends.get() + row * TEXTS_PER_ROW;
                texts.add(elements_.name);
                ends[0] = texts.used();
                texts.add(elements_.designation);
                ends[1] = texts.used();
                char note[NOTE_CAPACITY];
                texts.add({note, describe_elements(elements_, note)});
                ends[2] = texts.used();
            });
            // The batch's texts: None for a missing name or designation, the one empty text for no
            // note, and a note the same as the one before the same object.
            std::size_t start = 0;
            PyObject* last_note = nullptr;
            std::string_view last_note_text;
            for (std::size_t k = 0; k < batch; ++k) {
                const std::size_t* const ends = text_ends.get() + k * TEXTS_PER_ROW;
                growing_column<PyObject*>* const identity[] = {&columns.names, &columns.designations};
                for (std::size_t part = 0; part < 2; ++part) {
                    const std::string_view text = texts.text(start, ends[part] - start);
                    start = ends[part];
                    PyObject* object = Py_None;
                    if (text.empty()) {
                        Py_INCREF(object);
                    } else {
                        object = new_text(text, "replace");
                    }
                    *identity[part]->add() = object;
                }
                const std::string_view text = texts.text(start, ends[2] - start);
                start = ends[2];
                PyObject* note = no_note.ptr();
                if (!text.empty()) {
                    if (last_note == nullptr || text != last_note_text) {
                        last_note = new_text(text, "replace");
                        last_note_text = text;
                        *columns.notes.add() = last_note;
                        continue;
                    }
                    note = last_note;
                }
                Py_INCREF(note);
                *columns.notes.add() = note;
            }
        }
        raise_if_read_failed();
        return columns.take();
    }

private:
    bool next_block() { return !errors_.any() && scanner_.find_element_block(block_); }

    // Up to `most` blocks, while room() holds, each handed to take(row) as it is found, with the
    // GIL let go; `ended` is set where the input (or a Python error) ended them. Returns how many;
    // a Python error raised meanwhile is raised then.
    template <class Room, class Take>
    std::size_t read_batch(std::size_t most, Room room, bool& ended, Take take) {
        std::size_t count = 0;
        {
            py::gil_scoped_release unlocked;
            for (; count < most && room(); ++count) {
                if (!next_block()) {
                    ended = true;
                    break;
                }
                take(count);
            }
        }
        errors_.raise();
        return count;
    }

    // The number of rows, or nothing when the sink failed with no Python error to raise.
    std::optional<std::int64_t> write_table(byte_sink& sink, char* storage, bool elements) {
        output_buffer out(sink, {storage, OUTPUT_BUFFER_BYTES});
        std::int64_t rows = 0;
        bool written = false;
        {
            py::gil_scoped_release unlocked;
            rows = elements ? write_elements_table(scanner_, out, block_, elements_) : write_csv_table(scanner_, out, block_, record_);
            written = out.flush();
        }
        errors_.raise();
        raise_if_read_failed();
        if (!written) return std::nullopt;
        return rows;
    }

    void raise_if_read_failed() {
        if (scanner_.read_failed()) throw read_failure{source_.error_number()};
    }

    pending_error errors_;
    python_source source_;
    std::unique_ptr<char[]> input_;
    element_scanner scanner_;
    element_block block_;
    orbit_record record_;
    labeled_reader reader_;
    labeled_elements elements_;
    std::unique_ptr<text_batch> record_texts_;
    std::unique_ptr<std::size_t[]> record_lengths_;
};

// The program's own test, through the platform: the same file however it is reached, links
// included, and a file on disk.
bool writes_over(std::intptr_t source, const py::object& target) {
    platform::file_identity input;
    platform::file_identity output;
    if (!platform::identify_open(file_from_handle(source), input)) return false;
    if (PyLong_Check(target.ptr())) {
        if (!platform::identify_open(file_from_handle(target.cast<std::intptr_t>()), output)) return false;
    } else {
        const auto name = target.cast<std::string>();
        // A name with a zero byte names no file (opening it fails); its part before would.
        if (name.find('\0') != std::string::npos || !platform::identify(name.c_str(), output)) return false;
    }
    return input.overwritten_by(output);
}

}  // namespace

}  // namespace orbitcsv::python

PYBIND11_MODULE(_core, module) {
    using orbitcsv::python::conversion;
    module.doc() = "The converter's core for the orbitcsv package; use the functions of orbitcsv itself.";
    module.attr("__version__") = ORBITCSV_VERSION;
    py::list centers;
    for (const std::string_view name : orbitcsv::CENTER_NAMES) centers.append(py::str(name.data(), name.size()));
    module.attr("CENTER_NAMES") = py::tuple(centers);
    py::list elements;
    for (const std::string_view name : orbitcsv::ELEMENT_NAMES) elements.append(py::str(name.data(), name.size()));
    module.attr("ELEMENT_NAMES") = py::tuple(elements);
    // The elements table's columns, from its header, which are the frame's too.
    const std::string_view header = orbitcsv::ELEMENTS_CSV_HEADER.substr(0, orbitcsv::ELEMENTS_CSV_HEADER.size() - 1);
    module.attr("ELEMENTS_COLUMNS") = py::str(header.data(), header.size()).attr("split")(",");
    module.attr("KM_PER_AU") = orbitcsv::KM_PER_AU;
    // The program's messages, %s where a file's name goes, without their line feeds.
    namespace messages = orbitcsv::messages;
    const std::pair<const char*, std::string_view> program_messages[] = {
        {"CANNOT_OPEN_INPUT", messages::CANNOT_OPEN_INPUT},   {"CANNOT_OPEN_OUTPUT", messages::CANNOT_OPEN_OUTPUT},
        {"OUTPUT_IS_INPUT", messages::OUTPUT_IS_INPUT},       {"CANNOT_READ_INPUT", messages::CANNOT_READ_INPUT},
        {"CANNOT_READ_STDIN", messages::CANNOT_READ_STDIN},   {"CANNOT_WRITE_OUTPUT", messages::CANNOT_WRITE_OUTPUT},
        {"CANNOT_WRITE_STDOUT", messages::CANNOT_WRITE_STDOUT}};
    py::dict message_texts;
    for (const auto& [key, text] : program_messages) message_texts[key] = py::str(text.data(), text.size() - 1);
    module.attr("MESSAGES") = message_texts;
    module.def(
        "summary",
        [](std::int64_t records) {
            struct text_sink final : orbitcsv::byte_sink {
                bool write_all(std::string_view bytes) override {
                    text.append(bytes);
                    return true;
                }
                std::string text;
            } sink;
            char scratch[64];
            messages::write_summary(sink, records, scratch);
            sink.text.pop_back();  // its line feed
            return sink.text;
        },
        "The program's summary line for a table of `records` rows, without its line feed.");
    // Raised with (errno, strerror) where the system gave a reason, and for a file object's
    // OSError, caused by it; orbitcsv words them as the program does, as its ReadError and
    // WriteError.
    static py::exception<orbitcsv::python::read_failure> read_failure(module, "ReadFailure", PyExc_OSError);
    static py::exception<orbitcsv::python::write_failure> write_failure(module, "WriteFailure", PyExc_OSError);
    orbitcsv::python::failure_types = {read_failure, write_failure};
    py::register_exception_translator([](std::exception_ptr thrown) {
        const auto raise = [](const py::object& kind, int error_number) {
            if (error_number == 0) {
                PyErr_SetNone(kind.ptr());
            } else {
                PyErr_SetObject(kind.ptr(), py::make_tuple(error_number, std::strerror(error_number)).ptr());
            }
        };
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const orbitcsv::python::read_failure& failure) {
            raise(read_failure, failure.error_number);
        } catch (const orbitcsv::python::write_failure& failure) {
            raise(write_failure, failure.error_number);
        }
    });
    module.def(
        "writes_over",
        [](std::intptr_t source, const py::object& target) { return orbitcsv::python::writes_over(source, target); },
        "Whether writing to target (an open file's handle, or a name as bytes) would destroy the file that the open "
        "file source reads.");
    py::class_<conversion>(module, "Conversion")
        .def(py::init<>())
        .def("from_handle", [](conversion& self, std::intptr_t handle) { self.source().from_handle(handle); })
        .def("from_buffer", [](conversion& self, const py::object& data) { self.source().from_buffer(data); })
        .def("from_reader", [](conversion& self, const py::object& readinto, const py::object& read) {
            self.source().from_reader(readinto, read);
        })
        .def("table", &conversion::table, py::arg("target"), py::arg("elements") = false)
        .def("records", &conversion::records)
        .def("columns", &conversion::columns);
}
