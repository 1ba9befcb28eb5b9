# Sourced by the engines' tests: what each of them needs alike.

# A port on 127.0.0.1 free now, for a server the test starts.
free_port() { /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# A small archive at $1 of awkward names: two of one name in two folders, a
# quote, spaces, a leading dash, and a file that is no video.
make_archive() {
    mkdir -p "$1/one" "$1/two"
    ffmpeg -v error -f lavfi -i testsrc2=s=17x9:r=10:d=0.5 -pix_fmt yuv420p -c:v ffv1 -f matroska "$1/one/a.mxf"
    ffmpeg -v error -f lavfi -i testsrc2=s=33x8:r=25:d=0.2 -vf lutyuv=y=val*1.3 -pix_fmt yuv422p10le -c:v ffv1 \
        -f matroska "$1/two/a.mxf"
    cp "$1/one/a.mxf" "$1/two/it's a \"tape\".mxf"
    cp "$1/two/a.mxf" "$1/-lead dash.mxf"
    echo "not a video" >"$1/bad.mxf"
}
