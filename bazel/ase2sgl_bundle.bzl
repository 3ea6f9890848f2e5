"""ase2sgl_bundle: converts ASE files into mesh bundles, one action per file.

    load("@ase2sgl//bazel:ase2sgl_bundle.bzl", "ase2sgl_bundle")

    ase2sgl_bundle(
        name = "level1_meshes",
        srcs = glob(["models/*.ase"]),
    )

gives <package>/level1_meshes/<file name less its extension>.sgl for each source.
Each action has one ASE file as its only input and the converter, built for the
machine that runs the action (cfg = "exec"), as its tool: nothing else goes in, so
results are shared through --disk_cache or --remote_cache and actions can run on
remote executors.
"""

def _stem(file):
    if file.extension:
        return file.basename[:-(len(file.extension) + 1)]
    return file.basename

def _ase2sgl_bundle_impl(ctx):
    outputs = []
    for source in ctx.files.srcs:
        output = ctx.actions.declare_file("%s/%s.sgl" % (ctx.label.name, _stem(source)))
        ctx.actions.run(
            executable = ctx.executable._converter,
            arguments = [source.path, output.path],
            inputs = [source],
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
        "_converter": attr.label(
            default = Label("//:ase2sgl"),
            executable = True,
            cfg = "exec",
        ),
    },
)
