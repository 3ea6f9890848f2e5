# SPDX-License-Identifier: MIT
"""ase2sgl_bundle: converts ASE files into mesh bundles, one action per file.

    load("@ase2sgl//bazel:ase2sgl_bundle.bzl", "ase2sgl_bundle")

    ase2sgl_bundle(
        name = "level1_meshes",
        srcs = glob(["models/*.ase"]),
        check = True,        # default: stop on a file whose meshes ase2sgl would lose
        tolerant = False,    # True: convert through sgltool's tolerant reader
    )

gives <package>/level1_meshes/<file name less its extension>.sgl for each source.

check (default): `sgltool lint` reads the file first; when a mesh of it would not
become an object of its own (another exporter's layout, UTF-16 text), the action
fails with one line "FILE:LINE: reason" and writes nothing; otherwise ase2sgl
converts, the same bytes as without the check. check = False: ase2sgl converts
whatever it makes of the file. tolerant = True: `sgltool convert` reads every
exporter's layout (check does not apply). An action prints nothing when it
succeeds; the programs' console lines are shown only when it fails.

Each action has one ASE file as its only input and the programs, built for the
machine that runs the action (cfg = "exec"), as its tools: nothing else goes in,
so results are shared through --disk_cache or --remote_cache and actions can run
on remote executors.
"""

# One conversion step: $1 input, $2 output, $3 mode (check, plain, tolerant),
# $4 ase2sgl, $5 sgltool. Lint's text report gives each loss as
# "  line N: loss: message [kind]" ("  loss: ..." for the file as a whole).
_STEP = """
in=$1 out=$2 mode=$3 converter=$4 sgltool=$5
one_line() { tr -s '\\r\\n' '  ' | sed 's/ *$//'; }
if [ "$mode" = check ]; then
    report=$("$sgltool" lint "$in" 2>&1)
    case $? in
    0) ;;
    1)
        loss=$(printf '%s\\n' "$report" | sed -n -e 's/^  line \\([0-9]*\\): loss: \\(.*\\) \\[[^]]*\\]$/:\\1: \\2/p' \\
                                             -e 's/^  loss: \\(.*\\) \\[[^]]*\\]$/: \\1/p' | head -n 1)
        [ -n "$loss" ] || loss=": $(printf '%s\\n' "$report" | grep -m1 'refuses it' | sed 's/^ *//')"
        echo "$in$loss (see sgltool lint, or set tolerant = True)" >&2
        exit 1 ;;
    *) echo "$in: sgltool lint failed: $(printf '%s' "$report" | one_line)" >&2; exit 1 ;;
    esac
fi
if [ "$mode" = tolerant ]; then
    console=$("$sgltool" convert "$in" "$out" 2>&1)
else
    console=$("$converter" "$in" "$out" 2>&1)
fi || { printf '%s' "$console" | one_line >&2; echo >&2; exit 1; }
"""

def _stem(file):
    if file.extension:
        return file.basename[:-(len(file.extension) + 1)]
    return file.basename

def _ase2sgl_bundle_impl(ctx):
    mode = "tolerant" if ctx.attr.tolerant else ("check" if ctx.attr.check else "plain")
    tools = [ctx.executable._converter]
    if mode != "plain":
        tools.append(ctx.executable._sgltool)
    outputs = []
    for source in ctx.files.srcs:
        output = ctx.actions.declare_file("%s/%s.sgl" % (ctx.label.name, _stem(source)))
        ctx.actions.run_shell(
            command = _STEP,
            arguments = [source.path, output.path, mode, ctx.executable._converter.path, ctx.executable._sgltool.path],
            inputs = [source],
            tools = tools,
            outputs = [output],
            mnemonic = "Ase2Sgl",
            progress_message = "Converting %s" % source.short_path,
        )
        outputs.append(output)
    return [DefaultInfo(files = depset(outputs))]

ase2sgl_bundle = rule(
    implementation = _ase2sgl_bundle_impl,
    doc = "Converts each ASE file in srcs into <name>/<stem>.sgl with ase2sgl.",
    attrs = {
        "srcs": attr.label_list(allow_files = True, mandatory = True, doc = "ASE files"),
        "check": attr.bool(default = True, doc = "fail on a file whose meshes ase2sgl would lose (sgltool lint)"),
        "tolerant": attr.bool(default = False, doc = "convert through sgltool's tolerant reader"),
        "_converter": attr.label(
            default = Label("//:ase2sgl"),
            executable = True,
            cfg = "exec",
        ),
        "_sgltool": attr.label(
            default = Label("//:sgltool"),
            executable = True,
            cfg = "exec",
        ),
    },
)
